plcburn_test(test_usb ${CMAKE_CURRENT_LIST_DIR}/usb_link_test.cpp)
target_link_libraries(test_usb PRIVATE plcburn_usb)
