#!/usr/bin/env python3
"""The library's layers, lowest first, and the checks that nothing climbs
them: no source file includes a layer above its own (each forbidden include
printed as file:line), and, given the list of the layers' object files, no
layer's object needs a symbol of the project's own that only a layer above
defines (each printed as the symbol, the layer that uses it and the layer
that defines it, read with nm). Exits 1 when anything climbs.

    layer-order.py SOURCE_DIR [OBJECT_LIST]

OBJECT_LIST holds one "KEY PATH" a line: the key of a layer (below) and an
object file or archive of it."""
import os
import re
import subprocess
import sys

# Name, folder (relative to the source root) and build key of each layer,
# lowest first. A file belongs to the layer of the longest folder that holds
# it. The text fitting is no layer of the library: plain Qt that the dialogs
# and the application both use and which uses nothing of either, so it
# stands below them all.
LAYERS = [
    ("text fitting", "fittexts", "fittexts"),
    ("platform base", "platform/base", "base"),
    ("foundation", "libqor/foundation", "foundation"),
    ("platform back ends", "platform", "backends"),
    ("media", "libqor/media", "media"),
    ("formats", "libqor/formats", "formats"),
    ("engine", "libqor/engine", "engine"),
    ("dialogs", "libqor/dialogs", "dialogs"),
    ("modules", "libqor/modules", "modules"),
]
# The include roots, searched in this order after the including file's own
# folder, as the compiler does.
INCLUDE_ROOTS = ["libqor", ".", "include", "fittexts"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
# nm's letters of a global definition; V and W are weak (inline functions,
# template instances, vtables), which every object that needs one carries.
STRONG = set("ABCDGRSTi")
WEAK = set("VW")


def layer_of(relpath):
    best = None
    for rank, (name, folder, key) in enumerate(LAYERS):
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
    for top in ("libqor", "platform", "fittexts"):
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


def read_symbols(paths):
    """(defined strongly, defined weakly, used) global symbols of the
    objects, the last mapping each symbol to the objects that use it."""
    strong, weak, used = set(), set(), {}
    if not paths:
        return strong, weak, used
    listing = subprocess.run(["nm", "-A", "-P", *paths], check=True, capture_output=True,
                             text=True).stdout
    for line in listing.splitlines():
        where, _, rest = line.rpartition(": ")
        fields = rest.split()
        if len(fields) < 2:
            continue
        symbol, kind = fields[0], fields[1]
        if kind == "U":
            used.setdefault(symbol, set()).add(os.path.basename(where.split(":")[-1]))
        elif kind in STRONG:
            strong.add(symbol)
        elif kind in WEAK:
            weak.add(symbol)
    return strong, weak, used


def demangled(symbols):
    text = subprocess.run(["c++filt"], input="\n".join(symbols), check=True,
                          capture_output=True, text=True).stdout
    return dict(zip(symbols, text.splitlines()))


def climbing_calls(object_list):
    """Each (symbol, using layer, its objects, defining layer) where a layer
    needs a symbol that only a layer above defines. A symbol only ever
    defined weakly above is a copy of inline code, not a call that climbs."""
    keys = [key for _, _, key in LAYERS]
    paths = {key: [] for key in keys}
    with open(object_list, encoding="utf-8") as listing:
        for line in listing:
            if line.strip():
                key, path = line.strip().split(" ", 1)
                paths[key].append(path)
    layers = [read_symbols(paths[key]) for key in keys]
    found = []
    for rank, (_, _, used) in enumerate(layers):
        below = set().union(*(strong | weak for strong, weak, _ in layers[:rank + 1]))
        for symbol, users in sorted(used.items()):
            if symbol in below:
                continue
            above = [k for k in range(rank + 1, len(layers)) if symbol in layers[k][0]]
            if above:
                found.append((symbol, rank, sorted(users), above[0]))
    names = demangled([symbol for symbol, _, _, _ in found])
    return [f"{names[symbol]}: used by {LAYERS[rank][0]} ({', '.join(users)}), "
            f"defined in {LAYERS[other][0]}" for symbol, rank, users, other in found]


def main():
    source_dir = sys.argv[1] if len(sys.argv) > 1 else "."
    found = list(forbidden_pairs(source_dir))
    for pair in found:
        print(pair)
    print(f"{len(found)} include(s) climb the layer order")
    if len(sys.argv) > 2:
        calls = climbing_calls(sys.argv[2])
        for call in calls:
            print(call)
        print(f"{len(calls)} symbol(s) climb the layer order")
        found += calls
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
