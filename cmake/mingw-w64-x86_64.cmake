# Cross-compiles Windows x64 binaries: the control program, the camera, the tests.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BRINDLE_MINGW_TARGET x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
