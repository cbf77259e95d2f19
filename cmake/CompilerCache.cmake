# Compiles through ccache where it is installed: rebuilds and CI passes reuse
# what an earlier build compiled, the precompiled header included, in this
# clone or another (see the script). A launcher given on the command line wins.
option(CMUPDATER_CCACHE "Compile through ccache when it is found" ON)
if(CMUPDATER_CCACHE)
    find_program(CCACHE_PROGRAM ccache)
    foreach(lang C CXX)
        if(CCACHE_PROGRAM AND NOT CMAKE_${lang}_COMPILER_LAUNCHER)
            set(CMAKE_${lang}_COMPILER_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/ccache-launcher.sh
                ${CMAKE_SOURCE_DIR})
        endif()
    endforeach()
endif()
