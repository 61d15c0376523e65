# Cross-builds for 32-bit Windows with Debian's MinGW-w64, against the
# libraries `scripts/windows-deps.sh i686` builds:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake [-DEDR_WINDOWS_DEPS=...]
set(EDR_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)
