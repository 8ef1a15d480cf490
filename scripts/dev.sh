#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds, then runs the program, the tests or the benchmark.
#   bash scripts/dev.sh run     build and start Vantor
#   bash scripts/dev.sh test    build and run the whole test suite
#   bash scripts/dev.sh bench   build and run the benchmarks
#   bash scripts/dev.sh fuzz [SECONDS]
#                               build the libFuzzer targets with clang (in build-fuzz) and run
#                               each for SECONDS (default 60) on a copy of its seeds; with 0, run
#                               each once over its committed seeds only (what CI does)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VANTOR_BUILD_DIR:-$root/build}
mode=${1:-}
case "$mode" in
  run|test|bench|fuzz) ;;
  *) echo "usage: bash scripts/dev.sh run|test|bench|fuzz [SECONDS]" >&2; exit 2 ;;
esac

packages=(cmake ninja-build g++ pkg-config libsass-dev libmimalloc-dev qt6-base-dev fonts-dejavu-core python3)
[ "$mode" != fuzz ] || packages+=(clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing ${missing[*]} ..."
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  log=$(mktemp)
  if ! { "${sudo[@]}" apt-get update -qq && DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "Installing ${missing[*]} failed." >&2
    exit 1
  fi
  rm -f "$log"
fi

if [ "$mode" = fuzz ]; then
  fuzzbuild=$root/build-fuzz
  if [ ! -f "$fuzzbuild/build.ninja" ]; then
    mkdir -p "$fuzzbuild"
    CXX=clang++ cmake -S "$root" -B "$fuzzbuild" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOR_FUZZ=ON \
      -DVANTOR_BUILD_TESTS=OFF -DVANTOR_BUILD_BENCH=OFF >"$fuzzbuild/configure.log" 2>&1 ||
      { cat "$fuzzbuild/configure.log" >&2; exit 1; }
  fi
  seconds=${2:-60}
  [[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: bash scripts/dev.sh fuzz [SECONDS]" >&2; exit 2; }
  targets=(framing position)
  if ! cmake --build "$fuzzbuild" --target "${targets[@]/#/fuzz_}" >"$fuzzbuild/build.log" 2>&1; then
    cat "$fuzzbuild/build.log" >&2
    echo "Build failed." >&2
    exit 1
  fi
  # Crash inputs go to build-fuzz, never into the source tree.
  for t in "${targets[@]}"; do
    seeds=$root/tests/fuzz/corpus-$t
    echo "== fuzz_$t =="
    if [ "$seconds" -eq 0 ]; then
      # Files as arguments: each runs once and nothing new is written.
      "$fuzzbuild/tests/fuzz/fuzz_$t" -artifact_prefix="$fuzzbuild/" "$seeds"/* ||
        { echo "fuzz_$t failed on its seeds." >&2; exit 1; }
    else
      mkdir -p "$fuzzbuild/corpus-$t"
      cp "$seeds"/* "$fuzzbuild/corpus-$t/"
      "$fuzzbuild/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$fuzzbuild/" "$fuzzbuild/corpus-$t"
    fi
  done
  exit 0
fi

mkdir -p "$build"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log" >&2; exit 1; }
fi
if ! cmake --build "$build" >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  echo "Build failed." >&2
  exit 1
fi

case "$mode" in
  run) exec "$build/app/Vantor" ;;
  test) exec ctest --test-dir "$build" --output-on-failure --timeout 600 -j "$(nproc)" ;;
  bench) exec cmake --build "$build" --target bench ;;
esac
