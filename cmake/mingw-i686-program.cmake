# Toolchain of the shipped sorvane.exe: the win32 thread model, whose
# run-time imports nothing that Windows 98 lacks (the posix model pulls in
# GetTickCount64, AddVectoredExceptionHandler and the like). The test exes
# keep the posix model (cmake/mingw-i686.cmake), which GoogleTest needs.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(SORVANE_PROGRAM_ONLY ON CACHE BOOL "Build only the program" FORCE)
