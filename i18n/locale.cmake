# Locale files, their reader and the language catalogue. Included from i18n/CMakeLists.txt.

if(WIN32)
  set(brindle_locale_platform_sources locale_file_win.cpp languages_win.cpp)
else()
  set(brindle_locale_platform_sources locale_file_posix.cpp languages_posix.cpp)
endif()
brindle_library(brindle_i18n_locale
  SOURCES locale_file.cpp languages.cpp localizer.cpp ${brindle_locale_platform_sources}
  LIBS brindle_i18n brindle_common)

# The shipped locale files, and the folder beside the programs at the top of the build tree
# that they are copied to.
file(GLOB BRINDLE_LOCALE_FILES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/locales/*.json")
set(BRINDLE_LOCALE_FILES ${BRINDLE_LOCALE_FILES} CACHE INTERNAL "Shipped locale files")
set(BRINDLE_LOCALES_DIR "${CMAKE_BINARY_DIR}/locales" CACHE INTERNAL "Locale folder beside top-level programs")

# brindle_copy_locales(<name> <folder> [<program>...]): the custom target <name> keeps <folder>
# (the "locales" folder beside the programs) a copy of the shipped locale files, refreshed
# whenever one changes; each <program> is built after it.
function(brindle_copy_locales name folder)
  set(outputs)
  foreach(source ${BRINDLE_LOCALE_FILES})
    get_filename_component(file_name "${source}" NAME)
    add_custom_command(OUTPUT "${folder}/${file_name}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${source}" "${folder}/${file_name}"
      DEPENDS "${source}" VERBATIM)
    list(APPEND outputs "${folder}/${file_name}")
  endforeach()
  add_custom_target(${name} ALL DEPENDS ${outputs})
  foreach(program ${ARGN})
    add_dependencies(${program} ${name})
  endforeach()
endfunction()

brindle_copy_locales(brindle_locales "${BRINDLE_LOCALES_DIR}")
