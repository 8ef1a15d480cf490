#!/usr/bin/env python3
"""Fetches what the Dart Sass rows of bench_compiler need, then runs them.

    python3 bench/run_dart_sass_bench.py BENCH_COMPILER

Bootstrap, Bulma and Pico come from their npm packages, pinned with the
integrity npm's registry gives for them (`npm view NAME@VERSION dist.integrity`),
checked before they are unpacked. The Node hosts (npm sass-embedded and sass)
are installed with `npm ci` from bench/node/package-lock.json, which pins each
package with its integrity. Everything lands in a cache outside the source
and build trees, fetched once:
$VANTOR_BENCH_CACHE, else $XDG_CACHE_HOME/vantor/bench, else ~/.cache/vantor/bench.

Then runs BENCH_COMPILER --engine dart-sass on each framework's main SCSS entry
(each converts in its own folder). Without npm, or when a fetch fails, the
rows concerned are skipped with a note; the Dart Sass rows without Node hosts
still run.
"""

import base64
import hashlib
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# name, npm package, its integrity, the entry inside the package
FRAMEWORKS = [
    ("bootstrap-5.3.3", "bootstrap@5.3.3",
     "sha512-8HLCdWgyoMguSO9o+aH+iuZ+aht+mzW0u3HIMzVu7Srrpv7EBBxTnrFlSCskwdY1+EOFQSm7uMJhNQHkdPcmjg==",
     "scss/bootstrap.scss"),
    ("bulma-1.0.2", "bulma@1.0.2",
     "sha512-D7GnDuF6seb6HkcnRMM9E739QpEY9chDzzeFrHMyEns/EXyDJuQ0XA0KxbBl/B2NTsKSoDomW61jFGFaAxhK5A==",
     "bulma.scss"),
    ("pico-2.0.6", "@picocss/pico@2.0.6",
     "sha512-/d8qsykowelD6g8k8JYgmCagOIulCPHMEc2NC4u7OjmpQLmtSetLhEbt0j1n3fPNJVcrT84dRp0RfJBn3wJROA==",
     "scss/pico.scss"),
]
NPM_FLAGS = ["--ignore-scripts", "--no-audit", "--no-fund", "--loglevel=error",
             "--fetch-retries=1", "--fetch-retry-mintimeout=5000", "--fetch-retry-maxtimeout=10000"]


def note(text):
    print(f"note: {text}", flush=True)


def cache_folder():
    if os.environ.get("VANTOR_BENCH_CACHE"):
        return os.path.abspath(os.environ["VANTOR_BENCH_CACHE"])
    xdg = os.environ.get("XDG_CACHE_HOME", "")
    if os.path.isabs(xdg):
        return os.path.join(xdg, "vantor", "bench")
    return os.path.join(os.path.expanduser("~"), ".cache", "vantor", "bench")


def matches(path, integrity):
    algorithm, _, digest = integrity.partition("-")
    h = hashlib.new(algorithm)
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.digest() == base64.b64decode(digest)


def fetch_framework(cache, npm, name, package, integrity, entry):
    """The unpacked package's folder, or None with a note."""
    tree = os.path.join(cache, name)
    if os.path.isfile(os.path.join(tree, "package", entry)):
        return os.path.join(tree, "package")
    tgz = os.path.join(cache, name + ".tgz")
    if not os.path.isfile(tgz):
        if not npm:
            note(f"npm not found, no {package}; its rows are skipped")
            return None
        # Into a folder of its own first, so a broken transfer never leaves a tarball by the cached name.
        with tempfile.TemporaryDirectory(dir=cache, prefix=".download-") as partial:
            try:
                subprocess.run([npm, "pack", package, "--pack-destination", partial] + NPM_FLAGS, check=True,
                               stdout=subprocess.DEVNULL, timeout=300)
            except (subprocess.SubprocessError, OSError) as e:
                note(f"npm pack {package} failed ({e}); its rows are skipped")
                return None
            packed = [f for f in os.listdir(partial) if f.endswith(".tgz")]
            if len(packed) != 1:
                note(f"npm pack {package} wrote {packed}; its rows are skipped")
                return None
            os.replace(os.path.join(partial, packed[0]), tgz)
    if not matches(tgz, integrity):
        note(f"{tgz} does not match the pinned integrity {integrity}; delete it to fetch it again")
        return None
    unpack = tree + ".unpack"
    shutil.rmtree(unpack, ignore_errors=True)
    with tarfile.open(tgz) as archive:
        members = [m for m in archive.getmembers() if m.isfile() and not os.path.isabs(m.name)
                   and ".." not in m.name.split("/")]
        archive.extractall(unpack, members=members)
    shutil.rmtree(tree, ignore_errors=True)
    os.replace(unpack, tree)
    if not os.path.isfile(os.path.join(tree, "package", entry)):
        note(f"{package} has no {entry}; its rows are skipped")
        return None
    return os.path.join(tree, "package")


def install_node_hosts(cache, npm):
    """The node_modules folder of the Node hosts, or None with a note."""
    hosts = os.path.join(cache, "node-hosts")
    modules = os.path.join(hosts, "node_modules")
    with open(os.path.join(HERE, "node", "package-lock.json"), "rb") as f:
        lock = f.read()
    stamp = os.path.join(hosts, ".installed-from")
    wanted = hashlib.sha256(lock).hexdigest()
    if os.path.isfile(stamp) and open(stamp).read() == wanted and os.path.isdir(modules):
        return modules
    if not npm or not shutil.which("node"):
        note("node or npm not found: no Node hosts")
        return None
    os.makedirs(hosts, exist_ok=True)
    for f in ("package.json", "package-lock.json"):
        shutil.copy(os.path.join(HERE, "node", f), hosts)
    try:
        # npm ci installs exactly the lockfile's packages and checks each against its integrity.
        subprocess.run([npm, "ci"] + NPM_FLAGS, cwd=hosts, check=True, stdout=subprocess.DEVNULL, timeout=600)
    except (subprocess.SubprocessError, OSError) as e:
        note(f"npm ci of the Node hosts failed ({e}): no Node hosts")
        return None
    with open(stamp, "w") as f:
        f.write(wanted)
    return modules


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    bench = sys.argv[1]
    cache = cache_folder()
    os.makedirs(cache, exist_ok=True)
    npm = shutil.which("npm")
    inputs = []
    for name, package, integrity, entry in FRAMEWORKS:
        folder = fetch_framework(cache, npm, name, package, integrity, entry)
        if folder:
            inputs.append(f"{name}={os.path.join(folder, entry)}")
    if not inputs:
        note("no framework to convert: no Dart Sass rows")
        return 0
    command = [bench, "--engine", "dart-sass"]
    modules = install_node_hosts(cache, npm)
    if modules:
        command += ["--node", shutil.which("node"), os.path.join(HERE, "node_hosts.mjs"), modules]
    print(f"Dart Sass rows; packages in {cache}", flush=True)
    return subprocess.run(command + inputs).returncode


if __name__ == "__main__":
    sys.exit(main())
