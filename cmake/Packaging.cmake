# Install rules and packages. On Windows the install folder is portable: the executables, the Qt, SQLite and
# MinGW runtime DLLs beside them, and the Qt plugins they load in the folders Qt looks for next to the program.
if(WIN32)
  set(CORVANE_INSTALL_BINDIR .)
else()
  include(GNUInstallDirs)
  set(CORVANE_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
endif()

if(NOT WIN32)
  return()
endif()

set(sdk "${CORVANE_WINDOWS_SDK}")
install(FILES
    ${sdk}/bin/Qt6Core.dll ${sdk}/bin/Qt6Gui.dll ${sdk}/bin/Qt6Widgets.dll ${sdk}/bin/sqlite3.dll
    ${sdk}/bin/libstdc++-6.dll ${sdk}/bin/libgcc_s_seh-1.dll ${sdk}/bin/libwinpthread-1.dll
  DESTINATION .)
install(FILES ${sdk}/plugins/platforms/qwindows.dll DESTINATION platforms)
install(FILES ${sdk}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)
install(FILES ${sdk}/plugins/imageformats/qico.dll DESTINATION imageformats)
install(FILES ${PROJECT_SOURCE_DIR}/resources/README-windows.txt DESTINATION . RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/resources/THIRD-PARTY-NOTICES.txt DESTINATION .)

# The portable ZIP. The installer is the Windows Installer package of installer/ (target msi-package).
set(CPACK_PACKAGE_NAME Corvane)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Shows and steers the local management agent's software distribution")
set(CPACK_PACKAGE_FILE_NAME Corvane-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_GENERATOR ZIP)
# The ZIP unpacks to one folder named after the package.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
