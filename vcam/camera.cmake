# The virtual camera's filter and stream (their pixel work is in pixels/). Included from
# vcam/CMakeLists.txt.
# When samples are due: portable, so its arithmetic is also tested natively.
brindle_library(brindle_vcam_schedule SOURCES frame_schedule.h frame_schedule.cpp)

if(WIN32)
  brindle_library(brindle_vcam_camera
    WINDOWS_SOURCES
      virtual_camera_formats_win.h virtual_camera_formats_win.cpp sample_pacer_win.h sample_pacer_win.cpp
      virtual_camera_stream_win.h virtual_camera_stream_win.cpp
      virtual_camera_filter_win.h virtual_camera_filter_win.cpp
    WINDOWS_LIBS brindle_common brindle_dshow brindle_camera brindle_vcam_schedule)
endif()
