# Cross toolchain of the 64-bit test vehicle: the same sources for x86_64
# Windows, run under wine64 on machines whose kernel refuses 32-bit programs
# (scripts/wine-arch). Only the test layers use it; the shipped sorvane.exe
# is the 32-bit one of cmake/mingw-i686-program.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
