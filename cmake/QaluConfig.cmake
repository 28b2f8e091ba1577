# The program's built-in values, beneath which the settings files' values are read (core/settings).
# The `demo` preset points them at the embedded demo.
set(QALU_PRICE_LIST_DATE "4-7-2021" CACHE STRING "Date of the price list: file name and button caption")
set(QALU_CONNECTION_STRING
  "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=OlvaniM1;Data Source=.\\sqlexpress"
  CACHE STRING "ADO-style connection string of the pharmacy database")
set(QALU_DOWNLOAD_URL "http://qalu.example/upload/F${QALU_PRICE_LIST_DATE}.xlsx"
  CACHE STRING "Address of the maker's price list workbook")
if(WIN32)
  set(_qalu_default_path "C:\\Program Files\\Common Files\\F${QALU_PRICE_LIST_DATE}.xlsx")
else()
  set(_qalu_default_path "/var/tmp/F${QALU_PRICE_LIST_DATE}.xlsx")
endif()
set(QALU_WORKBOOK_PATH "${_qalu_default_path}" CACHE STRING "Local workbook path")

# Escape for a C++ string literal.
foreach(_v QALU_PRICE_LIST_DATE QALU_CONNECTION_STRING QALU_DOWNLOAD_URL QALU_WORKBOOK_PATH)
  string(REPLACE "\\" "\\\\" _esc "${${_v}}")
  string(REPLACE "\"" "\\\"" _esc "${_esc}")
  set(${_v}_LITERAL "${_esc}")
endforeach()
# The app and qalu-cli include it (each adds the folder to its own target).
set(QALU_CONFIG_INCLUDE_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/qalu_config.h.in ${QALU_CONFIG_INCLUDE_DIR}/qalu_config.h @ONLY)
