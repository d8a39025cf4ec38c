# What cmake --install puts on a Linux desktop: the application (with the system's hidapi), the fonts' licence, the
# desktop entry with its icon, and the udev rule that lets the logged-in user open the device. The web view's helper
# is the application itself, re-run: nothing else goes beside it.
#
#   cmake --install build                   # under /usr/local (the default prefix)
#   DESTDIR=/tmp/stage cmake --install build --prefix /usr
include (GNUInstallDirs)

# udev reads rules from /usr/lib/udev/rules.d and /usr/local/lib/udev/rules.d (and /etc/udev/rules.d): under either
# usual prefix the rule lands where udev finds it. Other prefixes set this to one of those directories.
set (OLVO_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
     "Where the udev rule goes (relative: under the install prefix)")

install (TARGETS OlvoAssistant RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install (FILES ${OLVO_FONT_LICENCE} DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME SourceSansPro-LICENSE.md)
install (FILES ${PROJECT_SOURCE_DIR}/resources/desktop/olvo-assistant.desktop
         DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install (FILES ${OLVO_APP_ICON} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
         RENAME olvo-assistant.png)
install (FILES ${PROJECT_SOURCE_DIR}/resources/desktop/60-olvo-assistant.rules DESTINATION ${OLVO_UDEV_RULES_DIR})
