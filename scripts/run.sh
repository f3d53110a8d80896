#!/usr/bin/env bash
# The main job: set up, build libkvext in release mode and install it into ./prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX="$PWD/prefix"
cmake --build build/release
cmake --install build/release
echo "libkvext installed under $PWD/prefix"
nm -D --defined-only "$PWD"/prefix/lib*/libkvext.so.4 | awk '{print $3}' | grep -c '^Orva' |
    xargs printf 'entry points exported: %s\n'
