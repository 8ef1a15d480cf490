#!/usr/bin/env python3
"""Fetches a CSS framework's SCSS sources with npm and writes them as one stylesheet.

The package comes from `npm pack` into WORKDIR (kept, so later runs need no network);
the entry file's @imports are inlined recursively, so the result converts from a
string with no include path, as the program's editor text does.

    python3 bench/fetch_framework.py bootstrap@4.6.2 scss/bootstrap.scss WORKDIR OUT.scss

When npm is missing or fails, prints a note, removes OUT.scss and exits 0: the
benchmark then skips that row.
"""

import os
import re
import shutil
import subprocess
import sys
import tarfile

# `@import "a", "b";` with quoted names only: url() and plain-CSS imports stay.
IMPORT = re.compile(r'^[ \t]*@import\s+((?:"[^"]+"|\'[^\']+\')(?:\s*,\s*(?:"[^"]+"|\'[^\']+\'))*)\s*;', re.M)
NAME = re.compile(r'"([^"]+)"|\'([^\']+)\'')


def resolve(base, name):
    head, tail = os.path.split(name)
    for candidate in (f"_{tail}.scss", f"{tail}.scss", f"_{tail}", tail):
        path = os.path.join(base, head, candidate)
        if os.path.isfile(path):
            return path
    raise FileNotFoundError(f"cannot resolve @import \"{name}\" from {base}")


def inline(path, seen):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    base = os.path.dirname(path)

    def replace(match):
        parts = []
        for m in NAME.finditer(match.group(1)):
            name = m.group(1) or m.group(2)
            if name.endswith(".css") or name.startswith(("http:", "https:", "//")):
                parts.append(f'@import "{name}";')
                continue
            target = os.path.realpath(resolve(base, name))
            parts.append(inline(target, seen))
        return "\n".join(parts)

    return IMPORT.sub(replace, text)


def skip(out, why):
    print(f"note: {why}; the rows for {os.path.basename(out)} are skipped", file=sys.stderr)
    if os.path.exists(out):
        os.remove(out)
    return 0


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    package, entry, workdir, out = sys.argv[1:]
    os.makedirs(workdir, exist_ok=True)
    name, _, version = package.rpartition("@")
    tgz = os.path.join(workdir, f"{name}-{version}.tgz")
    if not os.path.isfile(tgz):
        npm = shutil.which("npm")
        if not npm:
            return skip(out, "npm not found")
        try:
            subprocess.run([npm, "pack", package, "--pack-destination", workdir, "--silent"], check=True,
                           stdout=subprocess.DEVNULL, timeout=300)
        except (subprocess.SubprocessError, OSError) as e:
            return skip(out, f"npm pack {package} failed ({e})")
        if not os.path.isfile(tgz):
            return skip(out, f"npm pack {package} wrote no {os.path.basename(tgz)}")
    tree = os.path.join(workdir, f"{name}-{version}")
    if not os.path.isdir(tree):
        with tarfile.open(tgz) as archive:
            members = [m for m in archive.getmembers() if m.isfile() and not os.path.isabs(m.name)
                       and ".." not in m.name.split("/")]
            archive.extractall(tree, members=members)
    text = inline(os.path.join(tree, "package", entry), set())
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
