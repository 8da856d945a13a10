# The header-only libraries the tools use, from Debian's packages
# (libasio-dev, libcli11-dev), in a folder of the build
# that holds only them: the cross builds take their headers from there and
# never see the rest of /usr/include. Link etl_header_libs to use them.
set(ETL_HEADER_LIBS_SOURCE /usr/include CACHE PATH "where the header-only libraries are installed")
set(ETL_HEADER_LIBS_DIR ${CMAKE_BINARY_DIR}/header-libs)
file(MAKE_DIRECTORY ${ETL_HEADER_LIBS_DIR})
foreach(entry asio.hpp asio CLI)
  if(NOT EXISTS ${ETL_HEADER_LIBS_SOURCE}/${entry})
    message(FATAL_ERROR "${ETL_HEADER_LIBS_SOURCE}/${entry} is missing: install libasio-dev and "
                        "libcli11-dev (make deps)")
  endif()
  file(CREATE_LINK ${ETL_HEADER_LIBS_SOURCE}/${entry} ${ETL_HEADER_LIBS_DIR}/${entry} SYMBOLIC)
endforeach()

add_library(etl_header_libs INTERFACE)
target_include_directories(etl_header_libs SYSTEM INTERFACE ${ETL_HEADER_LIBS_DIR})
target_compile_definitions(etl_header_libs INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
# Asio's handlers pass between threads under its own locks, which
# ThreadSanitizer follows; GCC warns that it does not follow the fences
# Asio adds besides.
target_compile_options(etl_header_libs INTERFACE $<$<BOOL:${ETL_TSAN}>:-Wno-tsan>)
if(WIN32)
  target_link_libraries(etl_header_libs INTERFACE ws2_32 mswsock)  # Asio's Windows sockets
endif()
