# The preview's portable core: the preview geometry (the conversion is in pixels/). Included
# from app/CMakeLists.txt on both platforms.
brindle_library(brindle_preview
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/preview_geometry.h ${CMAKE_CURRENT_LIST_DIR}/preview_geometry.cpp
  LIBS brindle_common brindle_pixels)
