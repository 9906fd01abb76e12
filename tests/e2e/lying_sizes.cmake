# Runs kelvarix-x on archives whose entries declare far more bytes than their
# packed data holds (written by make-lying-rar): decoding must stop where the
# data ends, so each run ends by itself well within LIMIT seconds, with
# status 1 or 3 (names refused, checksums failed).
#
# cmake -DWRITER=make-lying-rar -DEXTRACT=kelvarix-x -DWORK=folder
#       [-DEMULATOR=wine64] [-DLIMIT=seconds] -P lying_sizes.cmake
# Decoding these takes milliseconds once it stops where the data ends; the
# limits leave room for a busy machine and, under an emulator, its start-up.
if(NOT LIMIT)
  if(EMULATOR)
    set(LIMIT 60)
  else()
    set(LIMIT 20)
  endif()
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/out")
execute_process(COMMAND ${EMULATOR} "${WRITER}" "${WORK}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make-lying-rar failed: ${rc}")
endif()
foreach(name solid_first many_entries)
  execute_process(COMMAND ${EMULATOR} "${EXTRACT}" "${WORK}/${name}.rar" "${WORK}/out/"
                  TIMEOUT ${LIMIT} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc MATCHES "^[13]$")
    message(FATAL_ERROR "${name}.rar: ${rc} (expected status 1 or 3 within ${LIMIT} s)")
  endif()
  message(STATUS "${name}.rar: status ${rc}")
endforeach()
