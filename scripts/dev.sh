#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds, then runs the program, the tests or the benchmark.
#   bash scripts/dev.sh run     build and start Vantor
#   bash scripts/dev.sh test    build and run the whole test suite, Dart Sass's cases included
#                               (configures with VANTOR_REQUIRE_DART_SASS=ON)
#   bash scripts/dev.sh bench [compiler]
#                               build and run the benchmarks (turns VANTOR_BUILD_BENCH on in the build);
#                               with compiler, only bench_compiler's rows: libsass, then Dart Sass
#                               beside the Node hosts (fetched into the bench cache, see bench/)
#   bash scripts/dev.sh fuzz [SECONDS]
#                               build the libFuzzer targets with clang (in build-fuzz) and run
#                               each for SECONDS (default 60) on a copy of its seeds; with 0, run
#                               each once over its committed seeds only (what CI does)
# The builds are the presets of CMakePresets.json: default (in build, or VANTOR_BUILD_DIR) and fuzz.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VANTOR_BUILD_DIR:-$root/build}
mode=${1:-}
case "$mode" in
  run|test|bench|fuzz) ;;
  *) echo "usage: bash scripts/dev.sh run|test|bench [compiler]|fuzz [SECONDS]" >&2; exit 2 ;;
esac
if [ "$mode" = bench ] && [ -n "${2:-}" ] && [ "$2" != compiler ]; then
  echo "usage: bash scripts/dev.sh bench [compiler]" >&2
  exit 2
fi

packages=(cmake ninja-build g++ pkg-config libsass-dev libmimalloc-dev qt6-base-dev fonts-dejavu-core python3
  protobuf-compiler libprotobuf-dev)
# The configure fetches Dart Sass with npm. An npm on PATH is used as it is: Debian's npm package
# conflicts with the nodejs package of newer Node releases, which carries its own npm.
command -v npm >/dev/null || packages+=(npm)
# libFuzzer is in the clang runtime of the same version as the clang++ that builds the targets;
# without a clang yet, the default one and its runtime are installed together.
clang_runtime() {
  if command -v clang++ >/dev/null; then
    echo "libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev"
  else
    echo libclang-rt-dev
  fi
}
[ "$mode" != fuzz ] || packages+=(clang "$(clang_runtime)")

# locked FILE...: succeeds while some process holds a lock on one of the files. apt and dpkg
# lock with fcntl; /proc/locks names each locked file by its device and inode.
locked() {
  local f id
  for f in "$@"; do
    [ -e "$f" ] || continue
    id=$(stat -L -c '%Hd %Ld %i' "$f" | { read -r major minor inode; printf '%02x:%02x:%s' "$major" "$minor" "$inode"; })
    # A waiter's line has "->" before its type, which moves the id one field on.
    awk -v id="$id" '$6 == id || $7 == id { found = 1 } END { exit !found }' /proc/locks && return 0
  done
  return 1
}

# wait_for_locks FILE...: a fresh desktop's automatic updates often hold the package manager's
# locks for minutes; waits for them, up to 300 s, saying so in one line. apt-get reports a lock
# still held after that.
wait_for_locks() {
  locked "$@" || return 0
  echo "Another program (such as automatic updates) is using the package manager; waiting for it, up to 300 s ..."
  local end=$((SECONDS + 300))
  while locked "$@" && ((SECONDS < end)); do
    sleep 1
  done
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing ${missing[*]} (a minute or two) ..."
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  log=$(mktemp)
  status=0
  wait_for_locks /var/lib/apt/lists/lock
  "${sudo[@]}" apt-get update -qq >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    wait_for_locks /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/cache/apt/archives/lock
    # The timeout covers a lock taken again between the wait and apt-get's start.
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
      -o DPkg::Lock::Timeout=300 "${missing[@]}" >>"$log" 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "Installing ${missing[*]} failed." >&2
    exit 1
  fi
  rm -f "$log"
fi

# configured DIR [-DVAR=VALUE...]: succeeds when DIR is configured with each of the settings.
configured() {
  local dir=$1 setting
  shift
  [ -f "$dir/build.ninja" ] || return 1
  for setting in "$@"; do
    setting=${setting#-D}
    grep -q -x -F -e "${setting%%=*}:BOOL=${setting#*=}" "$dir/CMakeCache.txt" || return 1
  done
}

# configure PRESET DIR [-DVAR=VALUE...]: configures DIR from the preset, unless it is configured
# with the given settings already. The output goes to DIR/configure.log and is shown when it
# fails; of it only the lines about Dart Sass (its download, or why the build goes without it)
# are shown as they come.
configure() {
  local preset=$1 dir=$2
  shift 2
  ! configured "$dir" "$@" || return 0
  mkdir -p "$dir"
  cmake --preset "$preset" -S "$root" -B "$dir" "$@" 2>&1 | tee "$dir/configure.log" |
    { grep --line-buffered -E '^(-- )?Dart Sass [^:]*(: downloading| not available)' || true; } ||
    { cat "$dir/configure.log" >&2; echo "Configuring $dir failed." >&2; exit 1; }
}

# Reads ninja's output: its "[done/total] step" lines become one line rewritten in place on a
# terminal, elsewhere a line at every tenth of the way.
progress() {
  local line step total shown=0
  while IFS= read -r line; do
    [[ $line =~ ^\[([0-9]+)/([0-9]+)\]\  ]] || continue
    step=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    if [ -t 1 ]; then
      printf '\r\033[K%s' "${line:0:100}"
    elif ((total >= 10 && 10 * step / total > shown)); then
      shown=$((10 * step / total))
      echo "  [$step/$total] $((10 * shown))%"
    fi
  done
  [ ! -t 1 ] || printf '\r\033[K'
}

# build DIR WHAT TARGET...: builds the targets, saying what it builds and, on a first build, how
# long that takes; shows ninja's progress on one line (on a terminal) or every tenth of the way.
# The whole output goes to DIR/build.log, which is shown when the build fails.
build() {
  local dir=$1 what=$2
  shift 2
  if [ ! -f "$dir/build.log" ]; then
    echo "Building $what for the first time: 2 to 4 minutes on 2 cores (less with ccache) ..."
  else
    echo "Building $what ..."
  fi
  local status=0
  NINJA_STATUS='[%f/%t] ' cmake --build "$dir" --target "$@" 2>&1 | tee "$dir/build.log" | progress || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$dir/build.log" >&2
    echo "Build failed." >&2
    exit 1
  fi
}

if [ "$mode" = fuzz ]; then
  fuzzbuild=$root/build-fuzz
  configure fuzz "$fuzzbuild"
  seconds=${2:-60}
  [[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: bash scripts/dev.sh fuzz [SECONDS]" >&2; exit 2; }
  targets=(framing position stderr scan packet outbound reindent)
  build "$fuzzbuild" "the fuzz targets" "${targets[@]/#/fuzz_}"
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

# Each mode builds only what it runs: the benchmarks and tools are options of the build, off
# until bench (or the screenshot tool, -DVANTOR_BUILD_TOOLS=ON) turns them on.
# The test suite runs Dart Sass's cases too, so its configure fails without Dart Sass.
settings=()
[ "$mode" != test ] || settings+=(-DVANTOR_REQUIRE_DART_SASS=ON)
[ "$mode" != bench ] || settings+=(-DVANTOR_BUILD_BENCH=ON)
configure default "$build" "${settings[@]}"
case "$mode" in
  run)
    build "$build" "Vantor" Vantor
    exec "$build/app/Vantor" ;;
  test)
    build "$build" "Vantor's tests" vantor-tests
    exec ctest --test-dir "$build" --output-on-failure --timeout 600 -j "$(nproc)" ;;
  bench)
    if [ "${2:-}" = compiler ]; then
      build "$build" "the compiler benchmark" bench_compiler bench_stylesheets
      exec cmake --build "$build" --target bench_compiler_rows
    fi
    build "$build" "the benchmarks" bench_compiler bench_window bench_highlight bench_memory bench_stylesheets
    exec cmake --build "$build" --target bench ;;
esac
