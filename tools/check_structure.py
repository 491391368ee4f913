#!/usr/bin/env python3
"""Checks the shape of the program's source tree, as the build's test of it:

- every folder includes only headers of its own folder and of folders in lower layers (LAYERS,
  the order README.md draws); a folder's system subfolders (posix/, x11/) count as the folder;
- no include cycle between units (a header and the source files that implement it, which sit
  beside it or in a system subfolder below it);
- no product file over 500 lines;
- nothing below the application (app/, and the publisher's command line) reads the environment;
- the player's sentences (Chinese text outside comments) are all in sentences/, but for the
  dialog template of res/.

Prints every finding and exits 1 when there is one.

    python3 tools/check_structure.py [root]
"""
import os
import re
import sys

# Lowest first. A folder may include folders of lower layers only.
LAYERS = [
    ["platform", "sentences", "policy"],
    ["window", "digest", "delta", "archive", "release"],
    ["res", "manifest", "install", "trust"],
    ["ui", "download", "check"],
    ["source"],
    ["run"],
    ["app", "publish"],
]
PRODUCT = [folder for layer in LAYERS for folder in layer]
SYSTEM_SUBFOLDERS = {"posix", "x11", "win32"}
MAX_LINES = 500
# Where the environment may be read: the programs' own start.
ENVIRONMENT_READERS = ("app/", "publish/main.cpp", "publish/Passphrase.cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
GETENV = re.compile(r"\b(secure_)?getenv\b")
CHINESE = re.compile("[\u4e00-\u9fff]")
SENTENCE_HOMES = ("sentences/", "res/Dialog102.cpp")


def layer_of(folder):
    return next(i for i, layer in enumerate(LAYERS) if folder in layer)


def product_files(root):
    for folder in PRODUCT:
        base = os.path.join(root, folder)
        for directory, _, names in os.walk(base):
            for name in sorted(names):
                if name.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(directory, name), root)


def unit_of(path, headers):
    """The header a file belongs to: itself, or the header of its name beside it or one system
    subfolder up; a source file without one is a unit of its own."""
    stem, _ = os.path.splitext(path)
    if path.endswith(".h"):
        return stem
    directory, name = os.path.split(stem)
    if os.path.basename(directory) in SYSTEM_SUBFOLDERS:
        parent = os.path.join(os.path.dirname(directory), name)
        if parent + ".h" in headers:
            return parent
    return stem


def find_cycle(graph):
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for next_node in sorted(graph.get(node, ())):
            if state.get(next_node) == "open":
                return stack[stack.index(next_node):] + [next_node]
            if next_node not in state:
                cycle = visit(next_node)
                if cycle:
                    return cycle
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    files = list(product_files(root))
    headers = {f for f in files if f.endswith(".h")}
    findings = []
    units = {}
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8") as source:
            text = source.read()
        folder = path.split("/")[0]
        lines = text.count("\n")
        if lines > MAX_LINES:
            findings.append(f"{path}: {lines} lines, more than {MAX_LINES}")
        if GETENV.search(text) and not path.startswith(ENVIRONMENT_READERS):
            findings.append(f"{path}: reads the environment, which only the application does")
        if not path.startswith(SENTENCE_HOMES):
            for number, line in enumerate(text.splitlines(), 1):
                if CHINESE.search(line.split("//")[0]):
                    findings.append(f"{path}:{number}: a sentence for the player outside sentences/")
        unit = unit_of(path, headers)
        for included in INCLUDE.findall(text):
            target = included.split("/")[0]
            if target not in PRODUCT:
                continue
            if target != folder and layer_of(target) >= layer_of(folder):
                findings.append(f"{path}: includes {included}, which is not in a lower layer")
            target_unit = os.path.splitext(included)[0]
            if target_unit != unit:
                units.setdefault(unit, set()).add(target_unit)
    cycle = find_cycle(units)
    if cycle:
        findings.append("include cycle: " + " -> ".join(cycle))
    for finding in findings:
        print(finding)
    print(f"structure: {len(files)} files, {len(findings)} findings")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
