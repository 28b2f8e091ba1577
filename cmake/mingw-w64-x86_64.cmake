# Cross-building for 64-bit Windows on Debian with MinGW-w64 (posix threads, which std::thread needs).
# The Qt prefix and the dependencies' prefix are the ones scripts/build-windows-deps makes; either can
# be moved with QALU_WIN64_QT / QALU_WIN64_DEPS (cache or environment variables).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

foreach(_var QALU_WIN64_QT QALU_WIN64_DEPS)
  if(NOT ${_var} AND DEFINED ENV{${_var}})
    set(${_var} $ENV{${_var}})
  endif()
endforeach()
if(NOT QALU_WIN64_QT)
  set(QALU_WIN64_QT $ENV{HOME}/.cache/qalu-update/qt-6.4.2-win64)
endif()
if(NOT QALU_WIN64_DEPS)
  set(QALU_WIN64_DEPS $ENV{HOME}/.cache/qalu-update/win64-deps)
endif()
set(QALU_WIN64_QT ${QALU_WIN64_QT} CACHE PATH "Qt prefix for x86_64-w64-mingw32")
set(QALU_WIN64_DEPS ${QALU_WIN64_DEPS} CACHE PATH "expat, libzip, libcurl, libxlsxwriter for x86_64-w64-mingw32")
# try_compile projects see these too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QALU_WIN64_QT QALU_WIN64_DEPS)

# zlib and the MinGW runtime come from Debian's packages under /usr/x86_64-w64-mingw32.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QALU_WIN64_QT} ${QALU_WIN64_DEPS})
set(CMAKE_PREFIX_PATH ${QALU_WIN64_QT} ${QALU_WIN64_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's host tools (moc, rcc, uic) are Debian's own Qt of the same version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")

# The MinGW runtime DLLs every program needs beside it.
set(QALU_MINGW_RUNTIME_DIRS /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib
  CACHE STRING "Folders of the MinGW runtime DLLs")
