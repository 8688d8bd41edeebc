# Install rules of the program, its desktop entry, AppStream metadata, manual page and licence.
# The data (Files/) and the icons are installed by tools/, which makes them.
# `cmake --install build --prefix P` honours DESTDIR like every CMake install.
install(TARGETS zarquill RUNTIME DESTINATION ${ZQ_INSTALL_BINDIR})

# The menu starts the game by name where the prefix's games folder is on the usual PATH, and
# by its full path anywhere else (a prefix in the home folder, /opt/...). The prefix is only
# known at install time (--prefix), so the entry is written then.
install(CODE "
  set(zq_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  if(zq_prefix STREQUAL \"/usr\" OR zq_prefix STREQUAL \"/usr/local\")
    set(ZQ_DESKTOP_EXEC zarquill)
  else()
    set(ZQ_DESKTOP_EXEC \"\${zq_prefix}/${ZQ_INSTALL_BINDIR}/zarquill\")
  endif()
  set(zq_entry \"\$ENV{DESTDIR}\${zq_prefix}/share/applications/${ZQ_APP_ID}.desktop\")
  message(STATUS \"Installing: \${zq_entry}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/data/${ZQ_APP_ID}.desktop.in\" \"\${zq_entry}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${zq_entry}\")
")
install(FILES data/${ZQ_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES data/zarquill.6 DESTINATION share/man/man6)
install(FILES LICENSE DESTINATION share/doc/zarquill)
