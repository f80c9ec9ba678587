# Debian's fonts linked under the file names the program looks for, into a folder of the build
# tree: <root>/all holds one font per script, <root>/no-chinese the same without the Chinese
# one, <root>/small-font.ttf is a small font for tests that only need a file that loads.
# Needs fonts-dejavu-core, fonts-noto-core and fonts-noto-cjk.
function(brindle_font_fixture root out_var)
  set(cjk /usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc)
  set(thai /usr/share/fonts/truetype/noto/NotoSansThai-Regular.ttf)
  set(fonts
    segoeui.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
    YuGothM.ttc ${cjk}
    msyh.ttc ${cjk}
    malgun.ttf ${cjk}
    leelawui.ttf ${thai}
    Nirmala.ttf /usr/share/fonts/truetype/noto/NotoSansDevanagari-Regular.ttf)
  file(MAKE_DIRECTORY "${root}/all" "${root}/no-chinese")
  set(missing "")
  while(fonts)
    list(POP_FRONT fonts name source)
    if(NOT EXISTS "${source}")
      list(APPEND missing "${source}")
      continue()
    endif()
    file(CREATE_LINK "${source}" "${root}/all/${name}" SYMBOLIC COPY_ON_ERROR)
    if(NOT name STREQUAL "msyh.ttc")
      file(CREATE_LINK "${source}" "${root}/no-chinese/${name}" SYMBOLIC COPY_ON_ERROR)
    endif()
  endwhile()
  if(EXISTS "${thai}")
    file(CREATE_LINK "${thai}" "${root}/small-font.ttf" SYMBOLIC COPY_ON_ERROR)
  endif()
  if(missing)
    message(WARNING "Font tests need Debian's fonts-dejavu-core, fonts-noto-core and fonts-noto-cjk; missing: ${missing}")
  endif()
  # Windows programs under Wine see the Linux file system as drive Z:.
  if(WIN32)
    set(${out_var} "Z:${root}" PARENT_SCOPE)
  else()
    set(${out_var} "${root}" PARENT_SCOPE)
  endif()
endfunction()
