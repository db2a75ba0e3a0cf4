# What both MinGW-w64 cross builds share; the including file sets TOOLCHAIN_PREFIX
# and CMAKE_SYSTEM_PROCESSOR. Programs link statically (no DLL beyond Windows' own)
# and tests run under Wine, started by the launcher that scripts/wine-launcher.sh found
# (HALVARD_WINE in the environment at configure time; `wine` without it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(DEFINED ENV{HALVARD_WINE} AND NOT "$ENV{HALVARD_WINE}" STREQUAL "")
  set(HALVARD_WINE "$ENV{HALVARD_WINE}" CACHE STRING "Command that starts Windows programs" FORCE)
elseif(NOT HALVARD_WINE)
  set(HALVARD_WINE wine CACHE STRING "Command that starts Windows programs")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${HALVARD_WINE})
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
