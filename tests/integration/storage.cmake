# `kyvex storage` on either build: identify blocks of other machines decoded from hdparm's text
# and from raw bytes, a bad file refused, this machine's devices as JSON; on Linux, as root,
# the device layer against a loop device holding a partitioned image.
set(storage_data ${PROJECT_SOURCE_DIR}/tests/data/storage)
if(WIN32)
  set(storage_runner ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
else()
  set(storage_runner "")
endif()

add_test(NAME storage_identify_hdparm_text
         COMMAND kyvex_cli storage --identify ${storage_data}/WDC_WD5000AAKS-00TMA0.hdparm.txt)
set_tests_properties(storage_identify_hdparm_text PROPERTIES PASS_REGULAR_EXPRESSION
  "Vendor: +WDC\n.*Model: +WD5000AAKS-00TMA0\n.*Serial number: +WD-WCAPW0493929\n.*Size: +500,107,862,016 bytes")

add_test(NAME storage_identify_raw_json
         COMMAND kyvex_cli storage --json --identify ${storage_data}/Samsung_SSD_870_EVO_2TB.identify.bin)
set_tests_properties(storage_identify_raw_json PROPERTIES PASS_REGULAR_EXPRESSION
  "\"Model\": \"SSD 870 EVO 2TB\".*\"SerialNumber\": \"S6PPNX0W203715P\".*\"Size\": 2000398934016.*\"ATAVersion\": 11")

add_test(NAME storage_identify_bad_file COMMAND kyvex_cli storage --identify ${storage_data}/dvd_rw_std)
set_tests_properties(storage_identify_bad_file PROPERTIES WILL_FAIL TRUE)

add_test(NAME storage_json
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/storage/check_storage_json.py
                 ${storage_runner} $<TARGET_FILE:kyvex_cli>)

if(NOT WIN32)
  add_test(NAME storage_loop_device
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/storage/loop_device.sh $<TARGET_FILE:kyvex_tests>)
  set_tests_properties(storage_loop_device PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 120)
endif()
