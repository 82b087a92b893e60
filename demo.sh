#!/usr/bin/env bash
# The quick start: installs whatever Debian packages are missing, builds the
# tavolink tool (optimised, in build/) and runs its demo against a simulated
# module. Arguments go to the demo (for instance --keep).
set -euo pipefail
cd "$(dirname "$0")"
bash .ci/install-deps
build=build
generator=()
if [ ! -f "$build/CMakeCache.txt" ]; then
  generator=(-G Ninja)
fi
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 -t tavolink
exec "$build/tools/tavolink" demo "$@"
