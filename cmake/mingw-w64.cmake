# Cross-compiles Windows binaries with Debian's MinGW-w64 posix-thread toolchain for the target
# BRINDLE_MINGW_TARGET (x86_64-w64-mingw32 or i686-w64-mingw32); included by the two toolchain files.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${BRINDLE_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRINDLE_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${BRINDLE_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRINDLE_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run under Wine (32-bit ones on its WoW64 side), in the project's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/lib/wine-run.sh")
