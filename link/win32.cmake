# Windows: COM ports and the PLC's USB interface as Win32 handles, found through the Setup API.
add_library(plcburn_link STATIC win32_serial.cpp win32_port_list.cpp win32_usb.cpp)
target_link_libraries(plcburn_link PUBLIC plcburn_model setupapi)

add_library(plcburn_system_link STATIC system_opener_win32.cpp)
target_link_libraries(plcburn_system_link PUBLIC plcburn_link)
