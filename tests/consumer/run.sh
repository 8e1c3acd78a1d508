#!/usr/bin/env bash
# Builds and runs the consumer project against su55if installed under PREFIX,
# once finding it with find_package and once with pkg-config:
#   tests/consumer/run.sh PREFIX
# The programs find the library through the run path CMake gives them. Then
# once more with the README's command line, which must work for any prefix
# (CI's holds a space).
set -euo pipefail
prefix=$(realpath "${1:?usage: tests/consumer/run.sh PREFIX}")
source_dir=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for how in cmake pkg-config; do
  echo "consumer: su55if found with $how"
  PKG_CONFIG_PATH=$prefix/lib/pkgconfig cmake -S "$source_dir" -B "$work/$how" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" -DSU55IF_FIND_WITH="$how" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  cmake --build "$work/$how" >/dev/null
  "$work/$how/consumer"
done

echo "consumer: built with the README's command line"
(
  cd "$work"
  export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
  cp "$source_dir/consumer.c" my_model.c
  version=$(pkg-config --modversion su55if)
  eval "cc my_model.c $(pkg-config --cflags --libs su55if) -o my_model -DFOUND_VERSION='\"$version\"'"
  LD_LIBRARY_PATH=$prefix/lib ./my_model
)
