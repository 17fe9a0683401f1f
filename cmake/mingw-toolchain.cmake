# Cross build for Windows with the mingw-w64 compilers of the win32 thread
# model. Included by the toolchain file of each architecture after it has set
# QZ45_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32) and
# CMAKE_SYSTEM_PROCESSOR.
#
# The win32 model's C++ runtime needs no threading library. The posix
# model's brings one along, which keeps two handles of a thread that calls
# into a DLL built with it and does not give them back when the DLL is freed:
# a host that loads and frees the DLL in a loop would lose two handles each
# time. The price: no std::thread, std::mutex or std::condition_variable in
# this tier; its code uses Win32 locks and threads.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QZ45_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QZ45_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${QZ45_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QZ45_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QZ45_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_DLLTOOL ${QZ45_MINGW_TRIPLE}-dlltool CACHE FILEPATH "")

# A consumer may add its own roots (an install tree) with -DCMAKE_FIND_ROOT_PATH.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QZ45_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL carries its own C and C++ runtime, so it imports only
# Windows system DLLs and runs under Wine without extra search paths.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
