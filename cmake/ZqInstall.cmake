# Install rules of the program, its desktop entry, AppStream metadata, manual page and licence.
# The data (Files/) and the icons are installed by tools/, which makes them.
# `cmake --install build --prefix P` honours DESTDIR like every CMake install.
install(TARGETS zarquill RUNTIME DESTINATION ${ZQ_INSTALL_BINDIR})

# The menu starts the game by name where the prefix's games folder is on the usual PATH, and
# by its full path anywhere else (a prefix in the home folder, /opt/...). The prefix is only
# known at install time (--prefix), so the entry is written then.
set(zq_desktop_out ${CMAKE_BINARY_DIR}/install-gen/${ZQ_APP_ID}.desktop)
install(CODE "
  set(zq_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(zq_prefix STREQUAL \"/usr\" OR zq_prefix STREQUAL \"/usr/local\")
    set(ZQ_DESKTOP_EXEC zarquill)
  else()
    set(ZQ_DESKTOP_EXEC \"\${zq_prefix}/${ZQ_INSTALL_BINDIR}/zarquill\")
  endif()
  configure_file(\"${PROJECT_SOURCE_DIR}/data/${ZQ_APP_ID}.desktop.in\" \"${zq_desktop_out}\" @ONLY)
")
install(FILES ${zq_desktop_out} DESTINATION share/applications)
install(FILES data/${ZQ_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES data/zarquill.6 DESTINATION share/man/man6)
install(FILES LICENSE DESTINATION share/doc/zarquill)
