# The virtual camera's filter and stream (their pixel work is in pixels/). Included from
# vcam/CMakeLists.txt.
# When samples are due: portable, so its arithmetic is also tested natively.
brindle_library(brindle_vcam_schedule SOURCES frame_schedule.h frame_schedule.cpp)

if(WIN32)
  brindle_library(brindle_vcam_camera
    WINDOWS_SOURCES
      virtual_camera_formats.h virtual_camera_formats.cpp sample_pacer_win.h sample_pacer_win.cpp
      virtual_camera_stream.h virtual_camera_stream.cpp
      virtual_camera_filter.h virtual_camera_filter.cpp
    WINDOWS_LIBS brindle_common brindle_dshow brindle_pixels brindle_vcam_schedule brindle_ring)
endif()
