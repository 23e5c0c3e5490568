# Cross build for 64-bit Windows with mingw-w64 (the "posix" thread model, so
# that std::thread and std::mutex work), linked statically: tqupdate.exe runs
# on a bare Windows desktop without any of the compiler's DLLs beside it.
#
# Libraries for the target come only from the compiler's own sysroot and from
# the prefix that scripts/windows-deps.sh fills (GoogleTest built for this
# compiler, CLI11's headers); nothing is ever looked up under /usr/include.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TQ_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TQ_MINGW_TRIPLE}-windres)

# The prefix of the cross-built dependencies; the presets put it in the build folder.
if(NOT TQ_WIN_DEPS)
  set(TQ_WIN_DEPS "${CMAKE_BINARY_DIR}/deps")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${TQ_MINGW_TRIPLE} ${TQ_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under wine on the build machine.
find_program(TQ_WINE wine)
if(TQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TQ_WINE})
endif()

# GCC 12 warns "-Wrestrict" inside std::string's own copy code at -O3 for
# ordinary string building (a known false positive of that release); with
# warnings as errors it would stop the build for no fault of ours.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
