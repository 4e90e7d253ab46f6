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

set(CPACK_PACKAGE_NAME Corvane)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Shows and steers the local management agent's software distribution")
set(CPACK_PACKAGE_FILE_NAME Corvane-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Corvane)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Corvane)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGE_EXECUTABLES corvane Corvane)
set(CPACK_GENERATOR ZIP NSIS)
# The ZIP unpacks to one folder named after the package.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

set(CPACK_NSIS_PACKAGE_NAME "Corvane ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME Corvane)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/corvane.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/corvane.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME corvane.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN corvane.exe)
# The installer keeps its folder under Software\<vendor>\<key> and removes only the last part: the vendor's
# key goes too, once empty.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  DeleteRegKey SHCTX \\\"Software\\\\Corvane\\\\Corvane\\\"
  DeleteRegKey /ifempty SHCTX \\\"Software\\\\Corvane\\\"")
# A 64-bit setup program for a 64-bit program (it runs where Corvane runs, with no 32-bit layer), and the
# version information of the setup program itself, from the project's version.
set(CPACK_NSIS_DEFINES "
  Target amd64-unicode
  VIProductVersion ${PROJECT_VERSION}.0
  VIAddVersionKey /LANG=1033 ProductName Corvane
  VIAddVersionKey /LANG=1033 CompanyName Corvane
  VIAddVersionKey /LANG=1033 FileDescription \\\"Corvane ${PROJECT_VERSION} setup\\\"
  VIAddVersionKey /LANG=1033 FileVersion ${PROJECT_VERSION}
  VIAddVersionKey /LANG=1033 ProductVersion ${PROJECT_VERSION}
  VIAddVersionKey /LANG=1033 LegalCopyright Corvane")
configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackOptions.cmake.in ${CMAKE_BINARY_DIR}/CPackOptions.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackOptions.cmake)
include(CPack)
