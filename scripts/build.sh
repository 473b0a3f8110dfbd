#!/usr/bin/env bash
# Configures and builds the whole project in build/ (or the folder given);
# MARROWBY_JOBS sets how many compilers run at once (default: one a core).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
shift || true
launcher=()
if command -v ccache >/dev/null 2>&1; then
  # Several work trees and build folders share one cache.
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$top")}
  # Needed for precompiled headers to be cached (see cmake/Marrowby.cmake).
  export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Line tables only (-g1): backtraces keep file and line, and the build takes a
# fifth less time than with full debug information.
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  "${launcher[@]}" "$@"
# MARROWBY_TARGETS (names, space-separated) builds only those and what they need.
targets=()
for target in ${MARROWBY_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build" --parallel "${MARROWBY_JOBS:-$(nproc)}" "${targets[@]}"
