# The virtual camera as an in-process COM server: BrindleVideoVCam.dll with its five exports.
# Included from vcam/CMakeLists.txt.
if(WIN32)
  brindle_library(brindle_vcam_server
    WINDOWS_SOURCES
      registration_data_win.h registration_data_win.cpp
      registration_win.h registration_win.cpp
    WINDOWS_LIBS brindle_vcam_camera brindle_camera brindle_dshow strmiids uuid ole32 advapi32)

  add_library(BrindleVideoVCam SHARED dll_entry_win.cpp vcam_exports.def)
  brindle_product_code(BrindleVideoVCam)
  target_link_libraries(BrindleVideoVCam PRIVATE brindle_vcam_server)
  # COM loads it by its own name; no "lib" prefix and no import library is needed.
  set_target_properties(BrindleVideoVCam PROPERTIES PREFIX "" IMPORT_PREFIX "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # 32-bit: the exports are __stdcall (DllCanUnloadNow@0 and so on); the .def file names them
    # undecorated, as COM looks them up.
    target_link_options(BrindleVideoVCam PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endif()
