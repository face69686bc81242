# Shared part of the mingw-w64 toolchain files; RQ43_MINGW_TRIPLE names the target.
find_program(CMAKE_CXX_COMPILER NAMES ${RQ43_MINGW_TRIPLE}-g++-win32 ${RQ43_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${RQ43_MINGW_TRIPLE}-windres REQUIRED)
set(CMAKE_FIND_ROOT_PATH /usr/${RQ43_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  # Floating point in SSE registers: the x87 unit's extra precision would change the pictures.
  set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
endif()
