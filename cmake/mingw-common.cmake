# Cross-build for Windows with MinGW-w64 (posix thread model, static runtime).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${TOVRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOVRA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOVRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test executables run through Wine; the test command prepares the prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
