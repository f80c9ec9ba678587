# The virtual camera's filter and stream, and the pixel work they do per sample. Included from
# vcam/CMakeLists.txt.
brindle_library(brindle_vcam_pixels
  SOURCES frame_convert.h frame_convert.cpp frame_convert_letterbox.h frame_convert_letterbox.cpp
    frame_convert_letterbox_rows.h frame_convert_letterbox_ssse3.cpp
  LIBS brindle_common)
# Only the row kernel is built for SSSE3; it runs only where the processor has it.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86|x86)$" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/frame_convert_letterbox_ssse3.cpp PROPERTIES COMPILE_OPTIONS -mssse3)
endif()
# When samples are due: portable, so its arithmetic is also tested natively.
brindle_library(brindle_vcam_schedule SOURCES frame_schedule.h frame_schedule.cpp)

if(WIN32)
  brindle_library(brindle_vcam_camera
    WINDOWS_SOURCES
      virtual_camera_formats.h virtual_camera_formats.cpp sample_pacer_win.h sample_pacer_win.cpp
      virtual_camera_stream.h virtual_camera_stream.cpp
      virtual_camera_filter.h virtual_camera_filter.cpp
    WINDOWS_LIBS brindle_vcam_framework brindle_vcam_pixels brindle_vcam_schedule brindle_ring)
endif()
