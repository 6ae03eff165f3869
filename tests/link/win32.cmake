# The Windows link: pure parts, the USB lookup over a table of devices, and the overlapped
# transfers over a named pipe.
plcburn_test(test_link win32_port_list_test.cpp win32_serial_test.cpp win32_usb_test.cpp)
target_link_libraries(test_link PRIVATE plcburn_link)
set_tests_properties(test_link PROPERTIES ENVIRONMENT "PLCBURN_EXPECT_COM_PORT=COM5")
