#!/bin/bash
# regenerate.sh BUILD_DIR: rewrites <name>.expanded.css and <name>.compressed.css for every
# <name>.scss here (partials, _*.scss, are only loaded by them) with the pinned Dart Sass's own
# command line from BUILD_DIR/lib/dart-sass/, run in this folder so relative loads resolve here:
#   dart sass.snapshot --stdin --no-source-map [--style=compressed] < <name>.scss
# The command line prints the CSS followed by exactly one newline, and nothing at all for an
# empty stylesheet: the same bytes the library returns, which ends non-empty CSS in one newline.
# Its warnings (deprecations of @import and of the global functions) go to standard error and
# are shown, not kept.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
runtime=$(cd "$1" && pwd)/lib/dart-sass
dart=$runtime/dart
snapshot=$runtime/sass.snapshot
if [[ ! -x $dart || ! -r $snapshot ]]; then
  echo "$0: no Dart Sass runtime in $runtime (configure with -DVANTOR_REQUIRE_DART_SASS=ON and build)" >&2
  exit 1
fi

cd "$(dirname "$0")"
shopt -s nullglob
for scss in [!_]*.scss; do
  name=${scss%.scss}
  "$dart" "$snapshot" --stdin --no-source-map --style=expanded < "$scss" > "$name.expanded.css"
  "$dart" "$snapshot" --stdin --no-source-map --style=compressed < "$scss" > "$name.compressed.css"
done
