# The camera for 32-bit capture applications: the same sources built by the i686 MinGW-w64
# toolchain in a build tree of its own (x86/ inside the Windows build tree), with the 32-bit
# programs that test it. Included by the 64-bit Windows build, which ships and tests both.
include(ExternalProject)

set(BRINDLE_X86_BINARY_DIR "${CMAKE_BINARY_DIR}/x86" CACHE INTERNAL "The 32-bit build tree")
set(BRINDLE_X86_VCAM "${BRINDLE_X86_BINARY_DIR}/vcam/BrindleVideoVCam.dll" CACHE INTERNAL "The 32-bit camera DLL")
set(BRINDLE_X86_CAMERA_VIEWER "${BRINDLE_X86_BINARY_DIR}/tools/camera_viewer/camera_viewer.exe" CACHE INTERNAL "The 32-bit capture program")
set(x86_targets BrindleVideoVCam camera_viewer
  vcam_dll_class_factory_test vcam_dll_registration_test vcam_dll_capture_test)

ExternalProject_Add(brindle_x86
  SOURCE_DIR "${CMAKE_SOURCE_DIR}"
  BINARY_DIR "${BRINDLE_X86_BINARY_DIR}"
  CMAKE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-i686.cmake"
    "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
    -DBRINDLE_BUILD_BENCH=OFF
    # The 32-bit capture test reads pictures that this tree's 64-bit ring child publishes.
    "-DBRINDLE_X64_RING_CHILD=${CMAKE_BINARY_DIR}/tests/ring_child.exe"
  # Two jobs, as on the machines CI runs on, beside the 64-bit build's own.
  BUILD_COMMAND "${CMAKE_COMMAND}" --build <BINARY_DIR> --parallel 2 --target ${x86_targets}
  BUILD_BYPRODUCTS "${BRINDLE_X86_VCAM}" "${BRINDLE_X86_CAMERA_VIEWER}"
  INSTALL_COMMAND ""
  # Its own build decides what is out of date.
  BUILD_ALWAYS TRUE)
