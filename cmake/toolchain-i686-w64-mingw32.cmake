# 32-bit Windows target (x86).
set(SONOTAPE_TRIPLE i686-w64-mingw32)
set(SONOTAPE_ARCH x86)
set(CMAKE_SYSTEM_PROCESSOR i686)
# Floating point in SSE2 registers, as on x64: the x87 unit keeps products in
# 80 bits, so a sample times the level coefficient would round differently
# from the same product on x64 (and from what the tests compute).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
