# Windows target built with MinGW-w64 (posix threads variant) on Linux.
# The per-target toolchain files set SONOTAPE_TRIPLE and SONOTAPE_ARCH and include this one.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${SONOTAPE_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SONOTAPE_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${SONOTAPE_TRIPLE}-windres)
set(CMAKE_AR           ${SONOTAPE_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${SONOTAPE_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP        ${SONOTAPE_TRIPLE}-strip CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${SONOTAPE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run under Wine; the bed (tools/bed.sh) puts the loader of the
# target first on PATH under this name.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
