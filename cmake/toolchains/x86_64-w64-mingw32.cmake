# Cross-builds for 64-bit Windows with Debian's MinGW-w64, against the
# libraries `scripts/windows-deps.sh x86_64` builds:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake [-DEDR_WINDOWS_DEPS=...]
set(EDR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)
