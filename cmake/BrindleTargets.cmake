# Small helpers shared by the feature folders' list files.

option(BRINDLE_WARNINGS_AS_ERRORS "Treat compiler warnings in product code as errors" OFF)

# brindle_product_code(target): marks a target of our own code (every brindle_library, the two
# programs). Third-party sources and the tests keep their warnings as warnings.
function(brindle_product_code target)
  if(BRINDLE_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# brindle_library(name SOURCES ... [WINDOWS_SOURCES ...] [POSIX_SOURCES ...] [LIBS ...]
#                  [WINDOWS_LIBS ...])
# A static library of one feature (an interface library when it has only headers on this
# platform); Windows-only sources and libraries join only the Windows build, POSIX sources
# (the other side of a platform hook) only the native one.
function(brindle_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;WINDOWS_SOURCES;POSIX_SOURCES;LIBS;WINDOWS_LIBS" ${ARGN})
  set(sources ${ARG_SOURCES})
  set(libs ${ARG_LIBS})
  if(WIN32)
    list(APPEND sources ${ARG_WINDOWS_SOURCES})
    list(APPEND libs ${ARG_WINDOWS_LIBS})
  else()
    list(APPEND sources ${ARG_POSIX_SOURCES})
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

# For brindle_add_test and brindle_add_bench, which take the flags WINDOWS_ONLY and NATIVE_ONLY:
# returns from the calling function when the target does not belong to this build.
macro(brindle_return_unless_this_platform)
  if((ARG_WINDOWS_ONLY AND NOT WIN32) OR (ARG_NATIVE_ONLY AND WIN32))
    return()
  endif()
endmacro()

# Adds every folder below the calling list file's folder that has a list file of its own.
function(brindle_add_subfolders)
  file(GLOB areas LIST_DIRECTORIES true "${CMAKE_CURRENT_SOURCE_DIR}/*")
  foreach(area ${areas})
    if(IS_DIRECTORY "${area}" AND EXISTS "${area}/CMakeLists.txt")
      add_subdirectory("${area}")
    endif()
  endforeach()
endfunction()

# brindle_avx2_sources(file ...): builds these sources for AVX2. The kernels in them run only
# where the processor has it, so the rest of the program keeps its baseline.
function(brindle_avx2_sources)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86|x86)$")
    return()
  endif()
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(options -mavx2)
    if(MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # 64-bit Windows aligns the stack to 16 bytes only, which GCC does not respect for 32-byte
      # spills: keep them unaligned-safe. (clang realigns the stack itself.)
      list(APPEND options -Wa,-muse-unaligned-vector-move)
    endif()
  elseif(MSVC)
    set(options /arch:AVX2)
  endif()
  set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "${options}")
endfunction()

# brindle_com_server(target source... LIBS lib...): an in-process COM server DLL of ours. COM
# loads it by its own name: no "lib" prefix and no import library. Its exports come from a .def
# file among the sources; in 32-bit builds they are __stdcall (DllCanUnloadNow@0 and so on) and
# the .def file names them undecorated, as COM looks them up.
function(brindle_com_server target)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_library(${target} SHARED ${ARG_UNPARSED_ARGUMENTS})
  brindle_product_code(${target})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()
