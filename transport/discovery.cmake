# Service discovery joins the transport library on Windows. The DNS-SD functions are looked up in
# dnsapi.dll at run time, so nothing links against it. Included from transport/CMakeLists.txt.
if(WIN32)
  target_sources(brindle_transport PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/discovery_win.h
    ${CMAKE_CURRENT_LIST_DIR}/discovery_win.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dns_sd_win.h
    ${CMAKE_CURRENT_LIST_DIR}/dns_sd_win.cpp)
endif()
