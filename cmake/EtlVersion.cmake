# The project version (project() in the root CMakeLists.txt) as the programs
# and the Windows file properties show it.
#
# ${CMAKE_BINARY_DIR}/generated/etl_version.h defines ETL_VERSION ("1.0.0")
# and its three numbers; etl_options puts the folder on the include path.
configure_file(${CMAKE_CURRENT_LIST_DIR}/etl_version.h.in
               ${CMAKE_BINARY_DIR}/generated/etl_version.h @ONLY)

# etl_version_resource(TARGET DESCRIPTION): on Windows, a version resource
# (file and product version, product name, the description) in TARGET.
function(etl_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(ETL_RC_FILETYPE VFT_DLL)
    set(suffix .dll)
  else()
    set(ETL_RC_FILETYPE VFT_APP)
    set(suffix .exe)
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(ETL_RC_INTERNAL ${name})
  set(ETL_RC_FILENAME ${name}${suffix})
  set(ETL_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# etl_split_debug(TARGET): on Windows, after each link, TARGET's debug
# information goes to <file>.debug beside it and the binary itself is
# stripped, with a debug link to that file. The tests run the stripped
# binary, the one the package holds; the .debug file stays for support.
function(etl_split_debug target)
  if(NOT WIN32)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_STRIP} --strip-unneeded $<TARGET_FILE_NAME:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()
