# Cross-compiles Windows x64 binaries with Debian's clang against the same MinGW-w64 headers,
# runtime and posix-thread libstdc++ as the GCC build (cmake/mingw-w64-x86_64.cmake): a second
# compiler over the same code. clang does not find that libstdc++ by itself.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRINDLE_MINGW_TRIPLE x86_64-w64-mingw32)
set(BRINDLE_MINGW_GCC_DIR /usr/lib/gcc/x86_64-w64-mingw32/12-posix)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${BRINDLE_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${BRINDLE_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${BRINDLE_MINGW_GCC_DIR}/include/c++ -isystem ${BRINDLE_MINGW_GCC_DIR}/include/c++/${BRINDLE_MINGW_TRIPLE} -isystem ${BRINDLE_MINGW_GCC_DIR}/include/c++/backward")
# -pthread puts winpthread in the static link group with libgcc_eh, whose emulated TLS needs it.
# Links see the compile flags too; -nostdinc++ means nothing there.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-L${BRINDLE_MINGW_GCC_DIR} -pthread -Wno-unused-command-line-argument")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${BRINDLE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/lib/wine-run.sh")
