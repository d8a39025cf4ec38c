find_program (OLVO_CCACHE ccache)
if (OLVO_CCACHE)
    # Paths below the source tree hashed as relative ones: another clone of the tree (a CI run's) finds the cache
    # this one filled.
    set (launcher "${CMAKE_COMMAND}" -E env "CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}" "${OLVO_CCACHE}")
    set (CMAKE_C_COMPILER_LAUNCHER ${launcher})
    set (CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
endif()
