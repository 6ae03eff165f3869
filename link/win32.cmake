# Windows: COM ports and the PLC's USB interface as Win32 handles, found through the Setup API.
plcburn_library(plcburn_link STATIC link_clock.cpp win32_handle_link.cpp serial_win32.cpp
                                    port_list_win32.cpp win32_usb.cpp usb_place.cpp)
target_link_libraries(plcburn_link PUBLIC setupapi plcburn_core)

plcburn_library(plcburn_system_link STATIC system_opener.cpp)
target_link_libraries(plcburn_system_link PUBLIC plcburn_link)

# Where a station's PLCs come and go: the COM port and USB interfaces' notifications.
plcburn_library(plcburn_slot_watch STATIC slot_watch_win32.cpp slot_problem.cpp)
target_link_libraries(plcburn_slot_watch PUBLIC plcburn_link)
