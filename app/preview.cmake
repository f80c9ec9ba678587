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
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86|x86)$")
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(avx2_options -mavx2)
    if(MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # 64-bit Windows aligns the stack to 16 bytes only, which GCC does not respect for 32-byte
      # spills: keep them unaligned-safe. (clang realigns the stack itself.)
      list(APPEND avx2_options -Wa,-muse-unaligned-vector-move)
    endif()
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/preview_convert_avx2.cpp PROPERTIES COMPILE_OPTIONS "${avx2_options}")
  elseif(MSVC)
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/preview_convert_avx2.cpp PROPERTIES COMPILE_OPTIONS "/arch:AVX2")
  endif()
endif()
