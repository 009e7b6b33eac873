# Shared by the MinGW-w64 toolchain files; MORVEXER_MINGW_TRIPLE names the target.
# The POSIX thread model, since the win32 one of GCC 12 has no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MORVEXER_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORVEXER_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MORVEXER_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${MORVEXER_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump of the MinGW binutils")

# Libraries come from the MinGW sysroot and from the ones scripts/windows-deps.sh
# builds from Debian sources; never from the build machine's own.
get_filename_component(MORVEXER_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(MORVEXER_WINDOWS_DEPS ${MORVEXER_SOURCE_ROOT}/build/windows-deps/${MORVEXER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${MORVEXER_MINGW_TRIPLE} ${MORVEXER_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${MORVEXER_SOURCE_ROOT}/scripts/wine-run.sh)
