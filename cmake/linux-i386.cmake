# 32-bit Linux build of the native code and its tests (-m32, linked
# statically), run under qemu-i386-static: the decoders, the reader, the
# bundle and the writer then run with 32-bit size_t and long, as in the
# 32-bit Windows product. GoogleTest is built from /usr/src/googletest.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386-static)
