# Cross-compiles for Windows x86-64 with Debian's mingw-w64 toolchain.
# The -posix thread-model compilers are required: the win32 model lacks
# std::mutex and std::thread, and GoogleTest does not build without them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VOCORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${VOCORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOCORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${VOCORA_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP      ${VOCORA_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VOCORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every Windows program is run through the rig's Wine wrapper, which picks the
# project's own prefix and sound server.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
