# What the cross-built (MinGW-w64) programs need beside them, listed by hand: windeployqt does not
# run in a cross build. scripts/check-windows checks that every DLL an installed program or plugin
# imports is in the install folder or is Windows' own.
# Installed under bin/ of the install folder (C:\Program Files\QALU\bin): the programs, the DLLs,
# Qt's plugin folders, which Qt looks for beside the executable.
set(_bin ${CMAKE_INSTALL_BINDIR})

set(QALU_WIN64_QT_DLLS Qt6Core Qt6Gui Qt6Widgets Qt6Sql)
# platforms: the window; sqldrivers: SQLite and ODBC; imageformats: the JPEG pictures; styles: the
# native look of the message box and the window frame.
set(QALU_WIN64_QT_PLUGINS platforms/qwindows sqldrivers/qsqlite sqldrivers/qsqlodbc imageformats/qjpeg
  styles/qwindowsvistastyle)
# One SQLite for the program and the QSQLITE plugin: the Qt prefix's.
set(QALU_WIN64_DEP_DLLS libcurl libexpat-1 libzip libxlsxwriter zlib1 sqlite3 libstdc++-6 libgcc_s_seh-1
  libwinpthread-1)

foreach(_dll ${QALU_WIN64_QT_DLLS})
  install(FILES ${QALU_WIN64_QT}/bin/${_dll}.dll DESTINATION ${_bin})
endforeach()
foreach(_plugin ${QALU_WIN64_QT_PLUGINS})
  get_filename_component(_folder ${_plugin} DIRECTORY)
  install(FILES ${QALU_WIN64_QT}/plugins/${_plugin}.dll DESTINATION ${_bin}/${_folder})
endforeach()
foreach(_dll ${QALU_WIN64_DEP_DLLS})
  find_file(_path_${_dll} ${_dll}.dll
    PATHS ${QALU_WIN64_DEPS}/bin ${QALU_WIN64_QT}/bin ${QALU_MINGW_RUNTIME_DIRS}
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  install(FILES ${_path_${_dll}} DESTINATION ${_bin})
endforeach()

# The manual pages as plain text.
find_program(QALU_GROFF groff REQUIRED)
set(_texts "")
foreach(_page qalu-update qalu-cli)
  set(_txt ${PROJECT_BINARY_DIR}/packaging/man/${_page}.txt)
  add_custom_command(OUTPUT ${_txt}
    COMMAND ${QALU_GROFF} -man -Tutf8 -P-cbou ${PROJECT_BINARY_DIR}/packaging/man/${_page}.1 > ${_txt}
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/man/${_page}.1
    VERBATIM)
  list(APPEND _texts ${_txt})
endforeach()
add_custom_target(man-text ALL DEPENDS ${_texts})
install(FILES ${_texts} DESTINATION doc)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION doc RENAME copyright.txt)

# A 64-bit installer: Debian's NSIS ships the amd64-unicode stub beside the 32-bit default, and a
# 32-bit installer could not put the programs under the 64-bit Program Files.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_FILE_NAME qalu-update-${PROJECT_VERSION}-win64)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/mainicon.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/mainicon.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME bin\\\\qalu-update.exe)
set(CPACK_NSIS_DISPLAY_NAME "QALU medicine prices")
set(CPACK_NSIS_PACKAGE_NAME "QALU medicine prices")
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MENU_LINKS doc/qalu-update.txt "QALU manual" doc/qalu-cli.txt "qalu-cli manual")
