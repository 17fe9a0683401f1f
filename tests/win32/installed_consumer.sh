#!/bin/sh
# Installs the build tree, builds the example consumer against the installed
# package alone, and runs it under Wine next to the installed DLL.
# Arguments: build dir, source dir.
set -eu
build="$1"
src="$2"
tree="$build/install-tree"
out="$build/consumer-build"
rm -rf "$tree" "$out"
cmake --install "$build" --prefix "$tree" >/dev/null
cmake -S "$src/examples/consumer" -B "$out" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw-i686.cmake" \
      -DCMAKE_PREFIX_PATH="$tree" -DCMAKE_FIND_ROOT_PATH="$tree" >/dev/null
cmake --build "$out" >/dev/null
cp "$tree/bin/qz45alarmevent_api.dll" "$out/"
for f in include/qz45alarmevent_api.h lib/libqz45alarmevent_api.dll.a lib/qz45alarmevent_api.lib \
         lib/cmake/qz45alarmevent_api/qz45alarmevent_apiConfig.cmake; do
    test -f "$tree/$f" || { echo "missing from the install tree: $f"; exit 1; }
done
cd "$out"
"$src/cmake/wine-run.sh" ./qz45_consumer.exe
