# Runs `kelvaro-dump --simulate COMPUTER COMMAND` on a computer that cannot be loaded and requires status 1,
# nothing on stdout and the reason on stderr. Usage: cmake -DDUMP=<kelvaro-dump> -DCOMPUTER=<dir> -DCOMMAND=<name>
# -P unloadable-computer.cmake
execute_process(COMMAND ${DUMP} --simulate ${COMPUTER} ${COMMAND}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 1)
  message(FATAL_ERROR "kelvaro-dump ${COMMAND} ended with ${status}, not 1; stdout:\n${out}")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "kelvaro-dump ${COMMAND} printed:\n${out}")
endif()
if(NOT err MATCHES "kelvaro-dump: the simulated computer could not be loaded")
  message(FATAL_ERROR "kelvaro-dump ${COMMAND} did not say why:\n${err}")
endif()
