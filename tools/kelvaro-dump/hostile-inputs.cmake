# Runs `kelvaro-dump archive` and `kelvaro-dump history` on inputs that are no files (a FIFO without a
# writer, a link to /dev/zero) or cannot be decoded, and requires each to end soon with status 1, the
# reason on stderr and nothing on stdout; then an archive whose text holds U+202E, which must print escaped.
# Usage: cmake -DDUMP=<kelvaro-dump> -DWORK=<scratch folder> -DREADME=<a text file> -P hostile-inputs.cmake
cmake_policy(SET CMP0054 NEW)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND mkfifo ${WORK}/fifo RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "mkfifo failed")
endif()
file(CREATE_LINK /dev/zero ${WORK}/zero SYMBOLIC)

set(cases "archive|fifo|not a file" "archive|zero|not a file" "history|fifo|not a file" "history|zero|not a file"
          "archive|README|not an archive")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 command)
  list(GET case 1 input)
  list(GET case 2 reason)
  set(path ${WORK}/${input})
  if(input STREQUAL "README")
    set(path ${README})
  endif()
  # A reader that waited for the FIFO or read /dev/zero to its end would run into the time-out.
  execute_process(COMMAND ${DUMP} ${command} ${path} TIMEOUT 60
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 1)
    message(FATAL_ERROR "kelvaro-dump ${command} ${input} ended with '${status}', not 1; stderr:\n${err}")
  endif()
  if(NOT out STREQUAL "")
    message(FATAL_ERROR "kelvaro-dump ${command} ${input} failed, yet printed:\n${out}")
  endif()
  if(NOT err MATCHES "${reason}")
    message(FATAL_ERROR "kelvaro-dump ${command} ${input} did not say '${reason}':\n${err}")
  endif()
endforeach()

# A keyed archive of one string that reverses what follows it on a terminal.
string(ASCII 226 128 174 override) # U+202E in UTF-8
file(WRITE ${WORK}/override.plist "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<plist version=\"1.0\"><dict><key>$archiver</key><string>NSKeyedArchiver</string><key>$version</key><integer>100000</integer>
<key>$top</key><dict><key>root</key><dict><key>CF$UID</key><integer>1</integer></dict></dict>
<key>$objects</key><array><string>$null</string><string>photo${override}gpj.exe</string></array></dict></plist>
")
execute_process(COMMAND ${DUMP} archive ${WORK}/override.plist TIMEOUT 60
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kelvaro-dump archive of a text with U+202E ended with '${status}':\n${err}")
endif()
if(out MATCHES "${override}" OR NOT out MATCHES "<string>photo\\\\u202Egpj\\.exe</string>")
  message(FATAL_ERROR "U+202E was not printed escaped:\n${out}")
endif()
