# Windows with mingw-w64 for the target named by ETL_MINGW_TRIPLET (set by the
# toolchain file that includes this one); test executables run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ETL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ETL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ETL_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ETL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine (scripts/wine-run.sh keeps Wine's helper
# processes off ctest's pipes).
get_filename_component(_etl_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR bash "${_etl_root}/scripts/wine-run.sh")
