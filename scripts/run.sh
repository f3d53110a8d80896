#!/usr/bin/env bash
# The main job: set up, build libkvext in release mode, install it into ./prefix and run the
# example host against the installed library.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX="$PWD/prefix"
cmake --build build/release
cmake --install build/release
library=$(ls "$PWD"/prefix/lib*/libkvext.so.4)
echo "libkvext installed as $library"
# A host compiles against the installed headers, in C and in C++.
cflags=$(PKG_CONFIG_PATH=$(dirname "$library")/pkgconfig pkg-config --cflags libkvext)
for lang in c c++; do
    printf '#include <kvext/kvext.h>\nint main(void) { return 0; }\n' |
        cc -fsyntax-only -Wall -Werror $cflags -x "$lang" -
done
printf 'entry points exported: %s\n' "$(nm -D --defined-only "$library" | grep -c ' Orva')"
"$PWD"/prefix/bin/kvhost "$library"
