# One INTERFACE target carries the settings every target of the project shares.
add_library(qalu_common INTERFACE)
target_compile_features(qalu_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_definitions(qalu_common INTERFACE
  QALU_VERSION="${PROJECT_VERSION}"
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_DISABLE_DEPRECATED_UP_TO=0x060000)
if(MSVC)
  target_compile_options(qalu_common INTERFACE /W4 /utf-8 /permissive- /Zc:__cplusplus)
  # windows.h without its min/max macros and rarely used parts.
  target_compile_definitions(qalu_common INTERFACE NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
  if(QALU_WERROR)
    target_compile_options(qalu_common INTERFACE /WX)
  endif()
else()
  target_compile_options(qalu_common INTERFACE
    -Wall -Wextra -Wshadow -Wconversion -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual
    -pedantic)
  if(QALU_WERROR)
    target_compile_options(qalu_common INTERFACE -Werror)
  endif()
endif()

set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)
