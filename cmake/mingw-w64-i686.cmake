# Cross-compiles Windows x86 (32-bit) binaries: the camera DLL for 32-bit capture applications,
# and the programs that test it.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(BRINDLE_MINGW_TARGET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
