#!/usr/bin/env python3
"""Fetches the frameworks bench_window's engine rows need, writes the user's part of each text, runs it.

    python3 bench/run_window_bench.py BENCH_WINDOW OUTDIR TEXT.scss...

Bootstrap 5.3.3 and Bulma 1.0.2 come from the npm packages run_dart_sass_bench.py
fetches, into the same cache and checked against the same pinned integrity. For
each, OUTDIR gets the user's part of the text: a few hundred lines of a site's own
rules written on top of the framework (its variables, functions and mixins),
which bench_window appends to the framework's entry and converts in the entry's
folder. Bootstrap runs with libsass and Dart Sass, Bulma with Dart Sass (libsass
cannot convert its @use). Without npm, or when a fetch fails, those rows are
skipped with a note and bench_window runs on the TEXT.scss files alone.
"""

import os
import random
import shutil
import subprocess
import sys

import run_dart_sass_bench

# package name as run_dart_sass_bench.FRAMEWORKS lists it, the engines to run it with
WINDOW_FRAMEWORKS = [("bootstrap-5.3.3", "libsass,dart-sass"), ("bulma-1.0.2", "dart-sass")]
COMPONENTS = ["card", "panel", "nav", "list", "form", "alert", "badge", "menu", "hero", "tile"]
PARTS = ["header", "body", "footer", "title", "icon", "label", "item", "link"]


def bootstrap_component(index, rng):
    """One block of a site's own rules on Bootstrap's globals (both engines read them)."""
    name = f"site-{rng.choice(COMPONENTS)}-{index}"
    color = rng.choice(["primary", "secondary", "success", "info", "warning", "danger"])
    lines = [
        f".{name} {{",
        "  display: flex;",
        f"  padding: {rng.randint(4, 24)}px {rng.randint(8, 40)}px;",
        f"  margin-bottom: $spacer * {rng.choice(['.5', '.75', '1', '1.5'])};",
        "  color: $gray-700;",
        f"  background-color: tint-color(${color}, {rng.randint(60, 90)}%);",
        "  @include border-radius($border-radius);",
        "",
    ]
    for part in rng.sample(PARTS, 2):
        lines += [
            f"  &__{part} {{",
            f"    font-size: {rng.choice(['$font-size-sm', '$font-size-base', '$font-size-lg'])};",
            f"    margin: 0 0 {rng.randint(2, 16)}px;",
            "    font-weight: $font-weight-semibold;",
            "  }",
            "",
        ]
    lines += [
        "  &:hover {",
        f"    background-color: shade-color(${color}, {rng.randint(5, 25)}%);",
        "  }",
        "",
        f"  @include media-breakpoint-up({rng.choice(['sm', 'md', 'lg', 'xl'])}) {{",
        f"    width: percentage({rng.randint(1, 12)} / 12);",
        f"    padding: {rng.randint(8, 32)}px;",
        "  }",
        "}",
        "",
    ]
    return lines


def bulma_component(index, rng):
    """One block of a site's own rules on Bulma's modules (iv, mx), as Dart Sass reads them."""
    name = f"site-{rng.choice(COMPONENTS)}-{index}"
    color = rng.choice(["turquoise", "blue", "purple", "green", "orange", "red"])
    lines = [
        f".{name} {{",
        "  display: flex;",
        f"  padding: {rng.randint(4, 24)}px {rng.randint(8, 40)}px;",
        f"  margin-bottom: iv.$block-spacing * {rng.choice(['0.5', '0.75', '1'])};",
        "  color: iv.$grey-dark;",
        f"  background-color: color.scale(iv.${color}, $lightness: {rng.randint(60, 90)}%);",
        "  border-radius: iv.$radius;",
        "",
    ]
    for part in rng.sample(PARTS, 2):
        lines += [
            f"  &__{part} {{",
            f"    font-size: iv.$size-{rng.randint(4, 7)};",
            f"    margin: 0 0 {rng.randint(2, 16)}px;",
            "    font-weight: iv.$weight-semibold;",
            "  }",
            "",
        ]
    lines += [
        "  &:hover {",
        f"    background-color: color.adjust(iv.${color}, $lightness: -{rng.randint(5, 25)}%);",
        "  }",
        "",
        f"  @include mx.{rng.choice(['tablet', 'desktop', 'widescreen'])} {{",
        f"    width: math.percentage(math.div({rng.randint(1, 12)}, 12));",
        f"    padding: {rng.randint(8, 32)}px;",
        "  }",
        "}",
        "",
    ]
    return lines


USER_PARTS = {
    "bootstrap-5.3.3": ("\n// The site's own rules, on Bootstrap's variables, functions and mixins.\n",
                        bootstrap_component),
    "bulma-1.0.2": ('\n@use "sass:color";\n@use "sass:math";\n@use "sass/utilities/initial-variables" as iv;\n'
                    '@use "sass/utilities/mixins" as mx;\n\n// The site\'s own rules, on Bulma\'s variables and '
                    'mixins.\n', bulma_component),
}


def user_part(name, lines=400):
    """About `lines` lines of a site's own rules for the framework; the same text every time."""
    head, component = USER_PARTS[name]
    rng = random.Random(1)
    out = head.splitlines()
    index = 0
    while len(out) < lines:
        out += component(index, rng)
        index += 1
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    bench, outdir, texts = sys.argv[1], sys.argv[2], sys.argv[3:]
    os.makedirs(outdir, exist_ok=True)
    cache = run_dart_sass_bench.cache_folder()
    os.makedirs(cache, exist_ok=True)
    npm = shutil.which("npm")
    known = {f[0]: f for f in run_dart_sass_bench.FRAMEWORKS}
    command = [bench] + texts
    for name, engines in WINDOW_FRAMEWORKS:
        _, package, integrity, entry = known[name]
        folder = run_dart_sass_bench.fetch_framework(cache, npm, name, package, integrity, entry)
        if not folder:
            continue
        part = os.path.join(outdir, f"window-{name}-user.scss")
        with open(part, "w", encoding="utf-8") as f:
            f.write(user_part(name))
        command += ["--framework", name, os.path.join(folder, entry), part, engines]
    print(f"Window rows; framework packages in {cache}", flush=True)
    return subprocess.run(command).returncode


if __name__ == "__main__":
    sys.exit(main())
