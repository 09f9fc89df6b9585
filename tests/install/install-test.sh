#!/bin/bash
# Installs the built library into a fresh prefix, builds the same small C
# host twice against it (pkg-config, then CMake's find_package) and runs
# both from outside the build tree.
#
#   install-test.sh BUILD_DIR SOURCE_DIR C_COMPILER [EXTRA_C_FLAGS]
set -euo pipefail
build=$1 source=$2 cc=$3 extra=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
version=$(pkg-config --modversion libqor)
echo "pkg-config --modversion libqor: $version"
[ "$version" = 2.8.0 ] || { echo "unexpected version $version"; exit 1; }

# The pkg-config host.
mkdir "$work/pc"
# shellcheck disable=SC2046,SC2086
"$cc" $extra -std=c11 -Wall -Werror -o "$work/pc/install_host" "$source/tests/install/InstallHost.c" \
  $(pkg-config --cflags --libs libqor) -Wl,-rpath,"$prefix/lib"
"$work/pc/install_host" "$work/pc" "$prefix/lib"

# The CMake host.
mkdir "$work/cm"
cmake -S "$source/tests/install" -B "$work/cm/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$extra" > "$work/cm/configure.log" ||
  { cat "$work/cm/configure.log"; exit 1; }
cmake --build "$work/cm/build" > "$work/cm/build.log" || { cat "$work/cm/build.log"; exit 1; }
"$work/cm/build/install_host" "$work/cm" "$prefix/lib"
