# The preview's portable core: the NV12 to RGBA conversion and the preview geometry. Included
# from app/CMakeLists.txt on both platforms.
brindle_library(brindle_preview
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/preview_convert.h ${CMAKE_CURRENT_LIST_DIR}/preview_convert.cpp
    ${CMAKE_CURRENT_LIST_DIR}/preview_convert_rows.h ${CMAKE_CURRENT_LIST_DIR}/preview_convert_sse2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/preview_convert_avx2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/preview_geometry.h ${CMAKE_CURRENT_LIST_DIR}/preview_geometry.cpp
  LIBS brindle_common)

# Only the AVX2 kernel is built for AVX2; it runs only where the processor has it.
brindle_avx2_sources(${CMAKE_CURRENT_LIST_DIR}/preview_convert_avx2.cpp)
