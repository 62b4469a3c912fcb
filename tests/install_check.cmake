# Installs into a scratch prefix and checks that the binary, the desktop
# entry, the icon, the AppStream file and the man page are where desktops
# and man look for them.
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
foreach(file bin/auralist share/applications/auralist.desktop share/icons/hicolor/scalable/apps/auralist.svg
        share/metainfo/auralist.metainfo.xml share/man/man1/auralist.1.gz)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(READ ${PREFIX}/share/applications/auralist.desktop desktop)
foreach(line "Exec=auralist %F" "Icon=auralist" "MimeType=inode/directory;audio/x-wav;")
  string(FIND "${desktop}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "desktop entry lacks ${line}")
  endif()
endforeach()
