#!/bin/sh
# The compiler launcher when ccache is found: these sloppiness settings let it
# cache what is compiled with a precompiled header.
CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
export CCACHE_SLOPPINESS
exec ccache "$@"
