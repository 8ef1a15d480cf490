#!/usr/bin/env bash
# check_configure.sh SOURCE_DIR CMAKE NINJA [TARBALL]: configures a project that includes
# cmake/DartSass.cmake with each of: no npm on PATH, an npm that fails, one that fetches the wrong
# bytes, a corrupted tarball in the cache, and (given the good TARBALL) one that fetches it, then
# a second configure with no npm. Checks the outcome in both modes of VANTOR_REQUIRE_DART_SASS:
# the configure error, or the one line and a build without Dart Sass, and what the cache holds.
set -euo pipefail
src=$1 cmake=$2 ninja=$3 good=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
name=sass-embedded-linux-x64-1.108.2.tgz

# A stand-in npm: `npm pack PACKAGE@VERSION --pack-destination DIR ...` does what FAKE_NPM says.
mkdir -p "$work/fake" "$work/empty"
cat >"$work/fake/npm" <<'NPM'
#!/bin/sh
PATH=/usr/bin:/bin
while [ $# -gt 0 ]; do [ "$1" = --pack-destination ] && dest=$2; shift; done
case $FAKE_NPM in
  good) cp "$FAKE_NPM_TARBALL" "$dest/sass-embedded-linux-x64-1.108.2.tgz" ;;
  garbage) echo garbage >"$dest/sass-embedded-linux-x64-1.108.2.tgz" ;;
  fail) echo "npm error code E404" >&2; echo "npm error 404 Not Found - sass-embedded-linux-x64" >&2; exit 1 ;;
esac
NPM
chmod +x "$work/fake/npm"

# configure CASE REQUIRE PATH CACHE [FAKE_NPM]: configures the probe into $work/CASE, output in
# $out and its exit code in $rc.
configure() {
  local case=$1 require=$2 path=$3 cache=$4 npm=${5:-}
  rc=0
  out=$(env PATH="$path" VANTOR_DART_SASS_CACHE="$cache" FAKE_NPM="$npm" FAKE_NPM_TARBALL="$good" \
    "$cmake" -G Ninja -DCMAKE_MAKE_PROGRAM="$ninja" -S "$src/tests/cmake/probe" -B "$work/$case" \
    -DVANTOR_SOURCE_DIR="$src" -DVANTOR_REQUIRE_DART_SASS="$require" 2>&1) || rc=$?
}

# expect CASE REQUIRE PATH CACHE FAKE_NPM REASON: without Dart Sass, a configure error naming
# REASON when it is required, otherwise one line naming it and a build without Dart Sass.
expect() {
  local case=$1 require=$2 path=$3 cache=$4 npm=$5 reason=$6
  configure "$case" "$require" "$path" "$cache" "$npm"
  if [ "$require" = ON ]; then
    [ "$rc" -ne 0 ] || fail "$case: configured despite: $reason"
    grep -q 'CMake Error' <<<"$out" || fail "$case: no configure error: $out"
    tr -s ' \n' ' ' <<<"$out" | grep -q -E "is required \(VANTOR_REQUIRE_DART_SASS is ON\), but $reason" ||
      fail "$case: the error does not say '$reason': $out"
  else
    [ "$rc" -eq 0 ] || fail "$case: configure failed: $out"
    [ "$(grep -c -E "^Dart Sass 1\.108\.2 not available, building without it: $reason" <<<"$out")" -eq 1 ] ||
      fail "$case: not one line saying '$reason': $out"
    ! grep -q -E 'CMake (Warning|Error)' <<<"$out" || fail "$case: more than the line: $out"
    grep -q 'probe: VANTOR_HAVE_DART_SASS=OFF' <<<"$out" || fail "$case: VANTOR_HAVE_DART_SASS is not OFF"
    [ ! -e "$work/$case/lib/dart-sass" ] || fail "$case: a dart-sass folder without Dart Sass"
  fi
  echo "$case: as expected"
}

mkdir -p "$work/corrupt"
printf 'not the package' >"$work/corrupt/$name"
for require in OFF ON; do
  expect "no-npm-$require" "$require" "$work/empty" "$work/cache-none-$require" "" \
    "npm, which fetches it, is not on PATH"
  expect "npm-fails-$require" "$require" "$work/fake" "$work/cache-fails-$require" fail \
    "\`npm pack sass-embedded-linux-x64@1\.108\.2\` failed \(1\): npm error 404 Not Found"
  expect "wrong-bytes-$require" "$require" "$work/fake" "$work/cache-wrong-$require" garbage \
    "the downloaded $name does not match the pinned integrity"
  [ -z "$(ls -A "$work/cache-wrong-$require")" ] || fail "wrong-bytes-$require: the cache is not empty"
  expect "corrupt-cache-$require" "$require" "$work/fake" "$work/corrupt" good \
    "$work/corrupt/$name does not match the pinned integrity"
done

if [ -z "$good" ]; then
  echo "no good tarball given: the fetch into an empty cache is not checked"
  exit 0
fi
# Into an empty cache the fetch runs once; another build then reads the cache without npm.
configure fetch ON "$work/fake" "$work/cache" good
[ "$rc" -eq 0 ] || fail "fetch: configure failed: $out"
grep -q 'Dart Sass 1.108.2: downloading' <<<"$out" || fail "fetch: no download: $out"
cmp -s "$good" "$work/cache/$name" || fail "fetch: the cache does not hold the tarball"
[ "$(ls -A "$work/cache")" = "$name" ] || fail "fetch: the cache holds more: $(ls -A "$work/cache")"
configure again ON "$work/empty" "$work/cache"
[ "$rc" -eq 0 ] || fail "again: configure without npm failed: $out"
! grep -q 'downloading' <<<"$out" || fail "again: downloaded again"
grep -q 'probe: VANTOR_HAVE_DART_SASS=ON' <<<"$out" || fail "again: VANTOR_HAVE_DART_SASS is not ON"
"$ninja" -C "$work/again" vantor-dart-sass-files >/dev/null || fail "again: placing Dart Sass failed"
[ -x "$work/again/lib/dart-sass/dart" ] && [ -f "$work/again/lib/dart-sass/sass.snapshot" ] &&
  [ -f "$work/again/lib/dart-sass/LICENSE" ] || fail "again: the dart-sass folder is incomplete"
echo "fetch once, then from the cache without npm: as expected"
