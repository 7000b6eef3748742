# MinGW-w64 i686: the 32-bit release build. Built, never run here.
set(LARKSPAN_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
