# CMake toolchain file: cross-compile for 64-bit Windows with Debian's mingw-w64 (posix threads)
# against the Qt, OpenSSL and SQLite prefix this file lies in (relocatable).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR ${TOOLCHAIN_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TOOLCHAIN_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${TOOLCHAIN_PREFIX}-strip CACHE FILEPATH "")

get_filename_component(VIGILOR_TOOLCHAIN_PREFIX "${CMAKE_CURRENT_LIST_DIR}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH "${VIGILOR_TOOLCHAIN_PREFIX}" /usr/${TOOLCHAIN_PREFIX})
# moc, uic and rcc are Linux programs of the prefix, named by Qt's CMake files.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_PREFIX_PATH "${VIGILOR_TOOLCHAIN_PREFIX}")

# ctest runs the tests through Wine.
find_program(VIGILOR_WINE wine)
if(VIGILOR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${VIGILOR_WINE}")
endif()
