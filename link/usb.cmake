# The PLC's USB link over libusb-1.0 (its own library so that it builds apart from the COM side).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)

plcburn_library(plcburn_usb STATIC
  ${CMAKE_CURRENT_LIST_DIR}/usb_lookup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/usb_link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/libusb_boundary.cpp)
target_link_libraries(plcburn_usb PUBLIC plcburn_link PRIVATE PkgConfig::LIBUSB)

# Where a station's PLCs come and go: inotify and udev for serial nodes, libusb's hotplug for USB.
pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)
plcburn_library(plcburn_slot_watch STATIC
                ${CMAKE_CURRENT_LIST_DIR}/slot_watch_linux.cpp
                ${CMAKE_CURRENT_LIST_DIR}/usb_presence_linux.cpp
                ${CMAKE_CURRENT_LIST_DIR}/serial_entry_linux.cpp
                ${CMAKE_CURRENT_LIST_DIR}/slot_problem_posix.cpp
                ${CMAKE_CURRENT_LIST_DIR}/slot_problem.cpp)
target_link_libraries(plcburn_slot_watch PUBLIC plcburn_link
                      PRIVATE plcburn_usb PkgConfig::LIBUSB PkgConfig::LIBUDEV Threads::Threads)
# Its udev rule is installed into udev's directory by packaging/.

# A barcode scanner's keys, read through libevdev, for a station's scanned serials.
pkg_check_modules(LIBEVDEV REQUIRED IMPORTED_TARGET GLOBAL libevdev)
plcburn_library(plcburn_scanner STATIC ${CMAKE_CURRENT_LIST_DIR}/scanner_keys.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/evdev_scanner_linux.cpp)
target_link_libraries(plcburn_scanner PRIVATE PkgConfig::LIBEVDEV Threads::Threads)
