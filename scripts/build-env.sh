# Sourced by run.sh, test.sh and tsan.sh: the compiler cache's settings and the flags of the normal
# build, so the runner and the tests share build/release and its cache entries.
export CCACHE_BASEDIR="$top"
export CCACHE_NOHASHDIR=true
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# Every build of our scripts (and so of CI) treats warnings in our own code as errors; a build
# configured by hand only warns.
strict_args=(-DFX_WERROR=ON)
# Optimised without debug information (a third of the compile time); configure a build directory
# of your own with -DCMAKE_BUILD_TYPE=RelWithDebInfo to profile.
release_args=("${strict_args[@]}" -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
  "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG")
