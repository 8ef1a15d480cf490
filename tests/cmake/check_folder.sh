#!/usr/bin/env bash
# check_folder.sh HAVE FOLDER STAGE VERSION: the dart-sass folder beside the library and its
# worker holds the build's unpacked Dart Sass (the copies in STAGE), dart is executable, runs the
# snapshot, which reports VERSION, and converts SCSS read from standard input.
# Exits 77 (skipped) when the build has no Dart Sass (HAVE is 0).
set -euo pipefail
have=$1 folder=$2 stage=$3 version=$4
if [ "$have" != 1 ]; then
  echo "This build has no Dart Sass (VANTOR_HAVE_DART_SASS is OFF)."
  exit 77
fi
fail() { echo "FAIL: $*" >&2; exit 1; }

for f in dart sass.snapshot LICENSE; do
  [ -f "$folder/$f" ] || fail "no $folder/$f"
  cmp -s "$stage/$f" "$folder/$f" || fail "$folder/$f differs from the unpacked $stage/$f"
done
[ -x "$folder/dart" ] || fail "$folder/dart is not executable"
[ -s "$folder/LICENSE" ] || fail "$folder/LICENSE is empty"

reported=$(timeout 60 "$folder/dart" "$folder/sass.snapshot" --version) ||
  fail "dart sass.snapshot --version failed"
[ "$reported" = "$version" ] || fail "sass.snapshot reports version '$reported', not $version"

css=$(printf '$c: #4f1a35;\na { b { color: $c; } }\n' |
  timeout 60 "$folder/dart" "$folder/sass.snapshot" --stdin --no-source-map --style=compressed) ||
  fail "dart sass.snapshot --stdin failed"
[ "$css" = 'a b{color:#4f1a35}' ] || fail "unexpected CSS: $css"
echo "$folder: Dart Sass $version runs"
