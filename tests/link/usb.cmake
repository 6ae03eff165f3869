plcburn_test(test_usb ${CMAKE_CURRENT_LIST_DIR}/usb_link_test.cpp)
target_link_libraries(test_usb PRIVATE plcburn_usb)

# Burns through libusb's real Linux backend into PLCs emulated with umockdev, in process: the
# test program runs with umockdev's preload library, which gives it its own /sys and /dev.
find_library(UMOCKDEV_PRELOAD NAMES libumockdev-preload.so.0 REQUIRED)

set(usb_preload ${UMOCKDEV_PRELOAD})
# A sanitizer's runtime must be the first library loaded.
foreach(sanitizer address:asan thread:tsan)
  string(REPLACE ":" ";" pair ${sanitizer})
  list(GET pair 0 flag)
  list(GET pair 1 runtime)
  if(CMAKE_CXX_FLAGS MATCHES "sanitize=${flag}")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${runtime}.so
                    OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(usb_preload "${runtime_path}:${usb_preload}")
  endif()
endforeach()
plcburn_test(test_usb_system REALTIME ${CMAKE_CURRENT_LIST_DIR}/usb_system_test.cpp
  PROPERTIES LABELS usb-system ENVIRONMENT "LD_PRELOAD=${usb_preload}")
target_link_libraries(test_usb_system PRIVATE plcburn_usb_emulation plcburn_system_link
                                              plcburn_usb plcburn_burn plcburn_core)

# A station on the USB slot, its watch on libusb's hotplug events, into PLCs emulated the same way.
plcburn_test(test_station_usb REALTIME ${CMAKE_CURRENT_LIST_DIR}/station_usb_test.cpp
  PROPERTIES LABELS usb-system ENVIRONMENT "LD_PRELOAD=${usb_preload}")
target_link_libraries(test_station_usb PRIVATE plcburn_usb_emulation plcburn_slot_watch
                                               plcburn_system_link plcburn_usb plcburn_burn
                                               plcburn_core)

# A barcode scanner's keys; the emulated scanner needs /dev/uinput (skipped without it).
plcburn_test(test_scanner REALTIME ${CMAKE_CURRENT_LIST_DIR}/scanner_test.cpp)
target_link_libraries(test_scanner PRIVATE plcburn_scanner PkgConfig::LIBEVDEV)
