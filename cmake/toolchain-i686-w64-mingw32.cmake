# 32-bit Windows target (x86).
set(SONOTAPE_TRIPLE i686-w64-mingw32)
set(SONOTAPE_ARCH x86)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
