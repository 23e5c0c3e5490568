# Installation like any Linux program: the programs in bin/, the shipped
# defaults in share/tqupdater/config (copied into the user's folder on first
# use), the window's desktop entry and icon, and manual pages made from the
# programs' own --help at build time. CPack turns the same into a .deb.
include(GNUInstallDirs)

set(TQ_PROGRAMS tqupdate)
if(TARGET chipsim)
  list(APPEND TQ_PROGRAMS chipsim)
endif()
if(TARGET tqupdater)
  list(APPEND TQ_PROGRAMS tqupdater)
  install(FILES ${CMAKE_SOURCE_DIR}/res/tqupdater.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/res/tqupdater.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(TARGETS ${TQ_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/config/cfg.ini ${CMAKE_SOURCE_DIR}/config/boot.bin
              ${CMAKE_SOURCE_DIR}/config/flash.bin
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tqupdater/config)

find_program(TQ_HELP2MAN help2man)
if(TQ_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  set(TQ_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  foreach(prog_and_name "tqupdate|update a decoder chip's flash over a serial line"
                        "chipsim|simulate a decoder chip on a pseudo-terminal")
    string(REPLACE "|" ";" parts "${prog_and_name}")
    list(GET parts 0 prog)
    list(GET parts 1 what)
    if(NOT TARGET ${prog})
      continue()
    endif()
    add_custom_command(OUTPUT ${TQ_MAN_DIR}/${prog}.1
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TQ_MAN_DIR}
      COMMAND ${TQ_HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${what}
              --output=${TQ_MAN_DIR}/${prog}.1 $<TARGET_FILE:${prog}>
      DEPENDS ${prog}
      COMMENT "Manual page for ${prog}" VERBATIM)
    list(APPEND TQ_MAN_PAGES ${TQ_MAN_DIR}/${prog}.1)
  endforeach()
  add_custom_target(tq_man ALL DEPENDS ${TQ_MAN_PAGES})
  install(FILES ${TQ_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual pages")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tqupdater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "TqUpdater developers <tqupdater@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Decoder chip flash updater over RS-232 (window, command line, simulator)")
set(CPACK_PACKAGE_DESCRIPTION "Brings a set-top-box decoder chip up from its boot ROM over a serial line and programs, erases or dumps its flash. Includes the operator's window tqupdater, the command line tqupdate and the chip simulator chipsim.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The shared-library dependencies (Qt 6, the C++ runtime) as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
