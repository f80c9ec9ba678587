# Small helpers shared by the feature folders' list files.

option(BRINDLE_WARNINGS_AS_ERRORS "Treat compiler warnings in product code as errors" OFF)

# brindle_product_code(target): marks a target of our own code (every brindle_library, the two
# programs). Third-party sources and the tests keep their warnings as warnings.
function(brindle_product_code target)
  if(BRINDLE_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# brindle_library(name SOURCES ... [WINDOWS_SOURCES ...] [LIBS ...] [WINDOWS_LIBS ...])
# A static library of one feature (an interface library when it has only headers on this
# platform); Windows-only sources and libraries join only the Windows build.
function(brindle_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;WINDOWS_SOURCES;LIBS;WINDOWS_LIBS" ${ARGN})
  set(sources ${ARG_SOURCES})
  set(libs ${ARG_LIBS})
  if(WIN32)
    list(APPEND sources ${ARG_WINDOWS_SOURCES})
    list(APPEND libs ${ARG_WINDOWS_LIBS})
  endif()
  set(compiled ${sources})
  list(FILTER compiled INCLUDE REGEX "\\.(c|cc|cpp)$")
  if(compiled)
    add_library(${name} STATIC ${sources})
    brindle_product_code(${name})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${libs})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${libs})
  endif()
endfunction()
