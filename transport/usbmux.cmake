# The USB multiplexer transport. Its wire format is portable (and tested natively under the
# sanitizers); the channel and the transport join brindle_transport on Windows. Included from
# transport/CMakeLists.txt after brindle_transport is declared.
add_library(brindle_usbmux_protocol STATIC
  ${CMAKE_CURRENT_LIST_DIR}/usbmux_protocol.h
  ${CMAKE_CURRENT_LIST_DIR}/usbmux_protocol.cpp)
target_include_directories(brindle_usbmux_protocol PUBLIC ${CMAKE_SOURCE_DIR})
brindle_product_code(brindle_usbmux_protocol)

if(WIN32)
  target_sources(brindle_transport PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/usbmux_channel_win.h
    ${CMAKE_CURRENT_LIST_DIR}/usbmux_channel_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/usbmux_transport_win.h
    ${CMAKE_CURRENT_LIST_DIR}/usbmux_transport_win.cpp)
  target_link_libraries(brindle_transport PUBLIC brindle_usbmux_protocol)
endif()
