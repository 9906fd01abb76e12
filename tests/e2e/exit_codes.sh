# The installer's exit codes (README, "Exit codes"), shared by the
# end-to-end scripts: each case names the code it must end with.
# shellcheck disable=SC2034
EXIT_DONE=0              # done, help shown, or cancelled by the user
EXIT_BAD_COMMAND_LINE=1  # Error 1
EXIT_FATAL=2             # extraction core: a stream failed, a volume set cannot be read
EXIT_MODE_FAILED=3       # Error 2 after packing or unpacking
EXIT_SETUP_FAILED=4      # Error 4
EXIT_WRITE_FAILED=5      # extraction core: a write failed
EXIT_INSTALL_FAILED=6    # integrity error (then Error 2)
EXIT_NO_WINDOW=7         # the progress window could not be made
EXIT_NO_MEMORY=8         # extraction core
EXIT_USER_BREAK=255      # extraction core: next disk cancelled, interrupted
