# 64-bit Windows: the same sources and tests, for kernels that refuse the
# 32-bit programs 32-bit Wine is made of.
set(ETL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
