#!/bin/sh
# The compiler launcher when ccache is found: ccache-launcher.sh SOURCE_DIR
# COMPILER ARGS... These sloppiness settings let it cache what is compiled with
# a precompiled header, and paths below the source directory count relative to
# it, so a clone elsewhere (CI's) reuses what an earlier clone compiled.
CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
CCACHE_BASEDIR=$1
export CCACHE_SLOPPINESS CCACHE_BASEDIR
shift
exec ccache "$@"
