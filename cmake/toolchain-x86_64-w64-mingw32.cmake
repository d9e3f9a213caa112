# 64-bit Windows target (x64), the default.
set(SONOTAPE_TRIPLE x86_64-w64-mingw32)
set(SONOTAPE_ARCH x64)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
