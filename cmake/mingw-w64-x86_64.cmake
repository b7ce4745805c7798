# 64-bit Windows executables from Debian's mingw-w64 (gcc 12). The posix
# thread model is the one whose libstdc++ has std::mutex and std::thread,
# which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TENSIVO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TENSIVO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TENSIVO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TENSIVO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TENSIVO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained exe each: libgcc, libstdc++ and winpthread linked in,
# only system DLLs imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run the exes under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
