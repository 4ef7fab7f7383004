# Cross toolchain: 32-bit Windows with MinGW-w64 (posix thread model, which
# GoogleTest needs for std::mutex).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SORVANE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
