# Cross-building for 64-bit Windows with Debian's mingw-w64; the tests run under Wine.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The -posix thread variant: std::thread and std::mutex exist only there.
set(TESSARA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSARA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSARA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run on machines without the mingw runtime DLLs: link libgcc, libstdc++ and
# winpthread into every executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest and gtest_discover_tests start the test programs through Wine.
find_program(TESSARA_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSARA_WINE})
