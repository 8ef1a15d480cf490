#!/usr/bin/env python3
"""Writes a realistic SCSS stylesheet of about the given number of lines.

A design-system shape: a palette and breakpoints in maps, helper functions,
mixins with content blocks, placeholders for @extend, then as many component
blocks as the line count needs, each with nesting, parent selectors, loops
and media queries. The same arguments always give the same text.

    python3 bench/gen_stylesheet.py --lines 8000 -o build/bench/gen_8k.scss
"""

import argparse
import random
import sys

HEADER = """// Generated benchmark stylesheet.
$font-stack: "Helvetica Neue", Arial, sans-serif;
$base-size: 16px;
$line-height: 1.5;
$radius: 4px;
$gutter: 24px;
$palette: (
  primary: #3b6fd8,
  secondary: #8a4fd1,
  success: #2e9e5b,
  warning: #d99a21,
  danger: #cf3b3b,
  neutral: #6b7280,
);
$breakpoints: (
  sm: 576px,
  md: 768px,
  lg: 992px,
  xl: 1200px,
);
$spacers: (0: 0, 1: 4px, 2: 8px, 3: 16px, 4: 24px, 5: 48px);

@function rem($px, $base: $base-size) {
  @return ($px / $base) * 1rem;
}

@function tint($color, $amount) {
  @return mix(white, $color, $amount);
}

@function shade($color, $amount) {
  @return mix(black, $color, $amount);
}

@function palette($name, $variant: base) {
  $color: map-get($palette, $name);
  @if $variant == light {
    @return tint($color, 30%);
  } @else if $variant == dark {
    @return shade($color, 25%);
  }
  @return $color;
}

@mixin respond($bp) {
  @media (min-width: map-get($breakpoints, $bp)) {
    @content;
  }
}

@mixin hover-focus {
  &:hover,
  &:focus {
    @content;
  }
}

@mixin button-variant($color) {
  color: if(lightness($color) > 60%, #111, #fff);
  background-color: $color;
  border-color: shade($color, 10%);
  @include hover-focus {
    background-color: shade($color, 15%);
    border-color: shade($color, 25%);
  }
}

%card-base {
  border-radius: $radius;
  box-shadow: 0 1px 3px rgba(0, 0, 0, 0.12), 0 1px 2px rgba(0, 0, 0, 0.24);
  padding: $gutter / 2;
}

%text-truncate {
  overflow: hidden;
  text-overflow: ellipsis;
  white-space: nowrap;
}

body {
  font-family: $font-stack;
  font-size: $base-size;
  line-height: $line-height;
}

@each $key, $value in $spacers {
  .m-#{$key} { margin: $value !important; }
  .p-#{$key} { padding: $value !important; }
}

"""

COLORS = ["primary", "secondary", "success", "warning", "danger", "neutral"]
BREAKPOINTS = ["sm", "md", "lg", "xl"]
ELEMENTS = ["header", "body", "footer", "title", "icon", "label", "item", "link"]


def component(index, rng):
    name = "c%d-%s" % (index, rng.choice(["card", "panel", "nav", "list", "form", "alert", "badge", "menu"]))
    color = rng.choice(COLORS)
    bp = rng.choice(BREAKPOINTS)
    count = rng.randint(2, 4)
    lines = []
    add = lines.append
    add("$%s-size: %dpx;" % (name, rng.randint(10, 40)))
    add(".%s {" % name)
    add("  @extend %card-base;")
    add("  display: flex;")
    add("  margin-bottom: rem(%dpx);" % rng.randint(4, 32))
    add("  color: palette(%s, dark);" % color)
    add("  background: palette(%s, light);" % color)
    for element in rng.sample(ELEMENTS, 3):
        add("")
        add("  &__%s {" % element)
        add("    font-size: rem($%s-size);" % name)
        add("    padding: map-get($spacers, %d) map-get($spacers, %d);" % (rng.randint(0, 5), rng.randint(0, 5)))
        add("    @extend %text-truncate;")
        add("")
        add("    &:first-child {")
        add("      border-top-left-radius: $radius;")
        add("    }")
        add("  }")
    add("")
    add("  &--active {")
    add("    @include button-variant(palette(%s));" % color)
    add("  }")
    add("")
    add("  @for $i from 1 through %d {" % count)
    add("    &.level-#{$i} {")
    add("      padding-left: $gutter * $i;")
    add("      opacity: 1 - $i * 0.1;")
    add("    }")
    add("  }")
    add("")
    add("  @include respond(%s) {" % bp)
    add("    flex-direction: row;")
    add("    width: percentage(%d / 12);" % rng.randint(1, 12))
    add("  }")
    add("}")
    add("")
    add("@each $name in %s {" % ", ".join(rng.sample(COLORS, 2)))
    add("  .%s--#{$name} {" % name)
    add("    border-left: 3px solid palette($name);")
    add("  }")
    add("}")
    add("")
    return lines


def stylesheet(target_lines, seed):
    rng = random.Random(seed)
    lines = HEADER.splitlines()
    index = 0
    while len(lines) < target_lines:
        lines.extend(component(index, rng))
        index += 1
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=1000, help="about how many lines to write")
    parser.add_argument("--seed", type=int, default=1, help="seed of the choices made")
    parser.add_argument("-o", "--output", help="file to write (default: standard output)")
    args = parser.parse_args()
    text = stylesheet(args.lines, args.seed)
    if args.output:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
