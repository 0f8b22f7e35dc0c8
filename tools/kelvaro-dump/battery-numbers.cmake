# The simulated portable's pack was put in after another (number 1, the other 0) and the program kept that in
# BatteryNumbers.plist: `kelvaro-dump sensors` must name its sensors battery.1 as the program does, and leave
# the numbers as they are. Usage: cmake -DDUMP=<kelvaro-dump> -DCOMPUTER=<dir> -DWORK=<dir> -P battery-numbers.cmake
file(REMOVE_RECURSE ${WORK})
set(store ${WORK}/Kelvaro/BatteryNumbers.plist)
# The pack's key: its entry's name, its device name and its serial number, the first such pack.
set(numbers "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<plist version=\"1.0\"><dict>
<key>AppleSmartBattery
bq20z451
10524#0</key><integer>1</integer>
<key>AppleSmartBattery
bq20z451
10307#0</key><integer>0</integer>
</dict></plist>
")
file(WRITE ${store} "${numbers}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env XDG_DATA_HOME=${WORK} ${DUMP} --simulate ${COMPUTER} sensors
  OUTPUT_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kelvaro-dump sensors failed with ${status}")
endif()
if(NOT out MATCHES "(^|\n)battery\\.1\\.voltage\t2\tBattery 2 Voltage\t" OR out MATCHES "(^|\n)battery\\.0[.-]")
  message(FATAL_ERROR "the pack numbered 1 by the program is not battery.1 in:\n${out}")
endif()
file(READ ${store} after)
if(NOT after STREQUAL numbers)
  message(FATAL_ERROR "the listing rewrote the program's battery numbers:\n${after}")
endif()
