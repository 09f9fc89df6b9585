#!/usr/bin/env python3
"""The library's layers, lowest first, and the check that no source file
includes a layer above its own. Prints file:line of every forbidden pair and
exits 1 when there is one.

    layer-order.py SOURCE_DIR"""
import os
import re
import sys

# Folder (relative to the source root) of each layer, lowest first. A file
# belongs to the layer of the longest folder that holds it.
LAYERS = [
    ("platform base", "platform/base"),
    ("foundation", "libqor/foundation"),
    ("platform back ends", "platform"),
    ("media", "libqor/media"),
    ("formats", "libqor/formats"),
    ("engine", "libqor/engine"),
    ("dialogs", "libqor/dialogs"),
    ("modules", "libqor/modules"),
]
# The include roots, searched in this order after the including file's own
# folder, as the compiler does.
INCLUDE_ROOTS = ["libqor", ".", "include"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(relpath):
    best = None
    for rank, (name, folder) in enumerate(LAYERS):
        if relpath.startswith(folder + "/") and (best is None or len(folder) > len(LAYERS[best][1])):
            best = rank
    return best


def resolve(source_dir, including, target):
    for folder in [os.path.dirname(including)] + INCLUDE_ROOTS:
        candidate = os.path.normpath(os.path.join(folder, target))
        if os.path.isfile(os.path.join(source_dir, candidate)):
            return candidate
    return None


def sources(source_dir):
    for top in ("libqor", "platform"):
        for root, _, files in os.walk(os.path.join(source_dir, top)):
            for name in sorted(files):
                if name.endswith((".cpp", ".h", ".inc")):
                    yield os.path.relpath(os.path.join(root, name), source_dir)


def forbidden_pairs(source_dir):
    for path in sources(source_dir):
        own = layer_of(path)
        if own is None:
            continue
        with open(os.path.join(source_dir, path), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = resolve(source_dir, path, match.group(1))
                other = layer_of(target) if target else None
                if other is not None and other > own:
                    yield (f"{path}:{number}: {LAYERS[own][0]} includes "
                           f"\"{match.group(1)}\" of {LAYERS[other][0]}")


def main():
    source_dir = sys.argv[1] if len(sys.argv) > 1 else "."
    found = list(forbidden_pairs(source_dir))
    for pair in found:
        print(pair)
    print(f"{len(found)} include(s) climb the layer order")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
