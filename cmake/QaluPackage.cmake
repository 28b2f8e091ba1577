# Packages: a Debian package on Linux (`cmake --preset package && cmake --build --preset package
# --target package`), an installer through WiX on Windows. The version is project(VERSION). What the
# package installs besides the programs is listed in packaging/.
set(CPACK_PACKAGE_NAME qalu-update)
set(CPACK_PACKAGE_VENDOR QALU)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QALU_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pharmacy medicine price updater")
# Wrapped by hand: the Debian description is shown as it is written.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Brings the medicine prices of a pharmacy database up to date from the maker's"
  "price list workbook (.xlsx): a single window downloads the list and applies it"
  "row by row, updating the prices of known medicines and adding new ones with"
  "their categories. It works on SQL Server through ODBC and on SQLite files."
  "The package also holds qalu-cli, the command-line tool for support staff: it"
  "prints what the program reads from a workbook, applies or reviews a price list"
  "without the window, and puts back the prices of an earlier run.")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_INSTALL_DIRECTORY QALU)
set(CPACK_PACKAGE_EXECUTABLES qalu-update "QALU medicine prices")

if(UNIX AND NOT APPLE)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Loaded at run time, so not seen by dpkg-shlibdeps: the SQL drivers and the display plugins.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-odbc, qt6-qpa-plugins")
  # Arabic glyphs for the window, FreeTDS for SQL Server.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-core | fonts-dejavu-core, tdsodbc")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

elseif(MINGW)
  # The cross build on Debian: DLLs listed by hand, an NSIS installer.
  include(QaluWindowsInstall)
elseif(WIN32)
  # Qt's DLLs and plugins (platform, SQL drivers, image formats) through windeployqt; the vcpkg
  # DLLs (curl, libzip, expat, sqlite3) from the executables' imports.
  qt_generate_deploy_app_script(TARGET qalu-update OUTPUT_SCRIPT _qalu_deploy
    NO_UNSUPPORTED_PLATFORM_ERROR)
  install(SCRIPT ${_qalu_deploy})
  install(RUNTIME_DEPENDENCY_SET qalu_runtime
    PRE_EXCLUDE_REGEXES "api-ms-.*" "ext-ms-.*" "Qt6.*"
    POST_EXCLUDE_REGEXES ".*[Ss]ystem32/.*\\.dll"
    DIRECTORIES $<TARGET_FILE_DIR:qalu-update>)
  set(CPACK_GENERATOR WIX)
  # Fixed for the life of the product: it lets a newer installer replace an older one.
  set(CPACK_WIX_UPGRADE_GUID 6F1C3E52-2B8A-4D77-9C1E-5A0B7E3D4C21)
  set(CPACK_WIX_PRODUCT_ICON ${PROJECT_SOURCE_DIR}/resources/mainicon.ico)
  set(CPACK_WIX_PROGRAM_MENU_FOLDER QALU)
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/mainicon.ico)
endif()

include(CPack)

# The Windows build's library manifest carries the same version.
file(READ ${PROJECT_SOURCE_DIR}/vcpkg.json _manifest)
string(JSON _manifest_version GET "${_manifest}" version)
if(NOT _manifest_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "vcpkg.json has version ${_manifest_version}, project(VERSION) ${PROJECT_VERSION}")
endif()
