# Cross build for 32-bit Windows with MinGW-w64 (32-bit WinPE runs only 32-bit programs);
# tests run under Wine, which needs Debian's wine32 (i386) for this build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# A 64-bit time_t, as on x86_64 and in MSVC since 2005: mingw-w64 otherwise gives i686 a
# 32-bit time_t, and mktime would fail for every creation date after 19 January 2038.
set(CMAKE_C_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
set(CMAKE_CXX_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
