# Cross-build for Windows x64 with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix). The tests run
# under Wine (Debian: wine64, wine) through CMake's cross-compiling emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZT_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: std::thread, std::mutex and thread_local need it.
set(CMAKE_C_COMPILER ${ZT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZT_WINE NAMES wine)
if(ZT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZT_WINE})
endif()
