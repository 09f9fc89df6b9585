#!/usr/bin/env python3
"""Draws fault patches at random for scripts/mutate.sh.

    python3 scripts/mutants.py [-n COUNT] [-s SEED] [-o DIR] [ROOT ...]

Picks source lines at random across the roots (default libqor, platform,
app and fittexts), each code line as likely as any other, so every folder is
sampled in proportion to its size; comments, blank lines, preprocessor lines
and lines of braces alone are never picked. On each line it applies one
rewrite from a fixed list, chosen at random among those the line allows,
and writes it as a patch that `git apply` takes (three lines of context),
with a first line saying where and what. Text inside string and character
literals is never rewritten. The same seed draws the same patches.

The rewrites:
  relation   a relational operator changed (< and <=, > and >=, == and !=)
  plus-one   a "+ 1" or "- 1" dropped, or "+ 1" added to an index or to the
             value of an assignment
  logic      && for ||, or || for &&
  not        a ! dropped
  number     an integer literal off by one
  swap       two neighbouring arguments of a call swapped
  break      a break dropped
  return     a return value changed (true and false, or a value to 0)

Some patches do not build (a swap of arguments of different types, say);
scripts/mutate.sh reports those apart, so draw more than you need.
"""

import argparse
import difflib
import os
import random
import re
import sys

EXTENSIONS = (".cpp", ".h", ".c", ".inc")


def code_mask(text):
    """For each character: True when it is code, False inside a comment or a
    string or character literal (the quotes count as literal)."""
    mask = [True] * len(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                mask[k] = False
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            for k in range(i, j):
                if text[k] != "\n":
                    mask[k] = False
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            open_paren = text.find("(", i + 2)
            delim = text[i + 2:open_paren]
            end = text.find(")" + delim + '"', open_paren)
            j = n if end < 0 else end + len(delim) + 2
            for k in range(i, j):
                if text[k] != "\n":
                    mask[k] = False
            i = j
        elif c in "\"'":
            # A digit separator (1'000) is not a literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum() \
                    and not text[i - 1].isalpha():
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            for k in range(i, j):
                mask[k] = False
            i = j
        else:
            i += 1
    return mask


def in_code(mask, start, end):
    return all(mask[start:end])


# Each finder takes a line and its code mask and returns sites:
# (start, end, replacement).

RELATIONS = {"<=": "<", ">=": ">", "==": "!=", "!=": "==", "<": "<=", ">": ">="}


def find_relation(line, mask, rng):
    # Spaced on both sides, as the formatter writes binary operators, so
    # template brackets, shifts and arrows are never taken.
    return [(m.start(1), m.end(1), RELATIONS[m.group(1)])
            for m in re.finditer(r"(?<=[\w)\]] )(<=|>=|==|!=|<|>)(?= [\w(!\-*&])", line)
            if in_code(mask, m.start(1), m.end(1))]


def find_plus_one(line, mask, rng):
    sites = []
    for m in re.finditer(r" [+-] 1(?![\w.'])", line):
        if in_code(mask, m.start(), m.end()):
            sites.append((m.start(), m.end(), ""))
    for m in re.finditer(r"\[([A-Za-z_]\w*)\]", line):
        if in_code(mask, m.start(), m.end()):
            sites.append((m.end(1), m.end(1), " + 1"))
    for m in re.finditer(r"(?<![=!<>+\-*/%&|^]) = ([A-Za-z_]\w*);", line):
        if in_code(mask, m.start(), m.end()):
            sites.append((m.end(1), m.end(1), " + 1"))
    return sites


def find_logic(line, mask, rng):
    return [(m.start(), m.end(), "||" if m.group() == "&&" else "&&")
            for m in re.finditer(r"&&|\|\|", line) if in_code(mask, m.start(), m.end())]


def find_not(line, mask, rng):
    return [(m.start(), m.end(), "")
            for m in re.finditer(r"!(?!=)(?=[\w(])", line) if in_code(mask, m.start(), m.end())]


def find_number(line, mask, rng):
    sites = []
    for m in re.finditer(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)(?![\w.'])", line):
        if not in_code(mask, m.start(), m.end()):
            continue
        text = m.group()
        value = int(text, 16) if text.lower().startswith("0x") else int(text)
        new = value + 1 if value == 0 else value + rng.choice((-1, 1))
        sites.append((m.start(), m.end(), hex(new) if text.lower().startswith("0x") else str(new)))
    return sites


def split_arguments(line, mask, open_at):
    """The top-level arguments of the call whose '(' is at open_at, as
    (start, end) spans without surrounding blanks; None when the call does
    not close on this line."""
    depth, start, spans = 0, open_at + 1, []
    for k in range(open_at, len(line)):
        if not mask[k]:
            continue
        c = line[k]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                spans.append((start, k))
                break
        elif c == "," and depth == 1:
            spans.append((start, k))
            start = k + 1
    else:
        return None
    trimmed = []
    for s, e in spans:
        while s < e and line[s] == " ":
            s += 1
        while e > s and line[e - 1] == " ":
            e -= 1
        trimmed.append((s, e))
    return trimmed


def find_swap(line, mask, rng):
    sites = []
    for m in re.finditer(r"\b[A-Za-z_]\w*\(", line):
        if not in_code(mask, m.start(), m.end()) or m.group()[:-1] in (
                "if", "for", "while", "switch", "return", "sizeof", "catch"):
            continue
        args = split_arguments(line, mask, m.end() - 1)
        # A parameter list ("const Qimg* source, Qimg* dest") is not a call.
        if not args or len(args) < 2 or any(
                re.fullmatch(r"[\w:<>]+(\s+[\w:<>]+)*[\s*&]+\w+", line[s:e]) for s, e in args):
            continue
        k = rng.randrange(len(args) - 1)
        (s1, e1), (s2, e2) = args[k], args[k + 1]
        a, b = line[s1:e1], line[s2:e2]
        if a and b and a != b:
            sites.append((s1, e2, b + line[e1:s2] + a))
    return sites


def find_break(line, mask, rng):
    return [(m.start(), m.end(), "")
            for m in re.finditer(r"\bbreak;", line) if in_code(mask, m.start(), m.end())]


def find_return(line, mask, rng):
    sites = []
    for m in re.finditer(r"\breturn ([^;]+);", line):
        if not in_code(mask, m.start(), m.end()):
            continue
        value = m.group(1).strip()
        new = {"true": "false", "false": "true"}.get(value)
        if new is None and value not in ("0", "nullptr", "{}"):
            new = "0"
        if new is not None:
            sites.append((m.start(1), m.end(1), new))
    return sites


REWRITES = {
    "relation": find_relation,
    "plus-one": find_plus_one,
    "logic": find_logic,
    "not": find_not,
    "number": find_number,
    "swap": find_swap,
    "break": find_break,
    "return": find_return,
}


def eligible(line, mask):
    """A line worth mutating: some code on it beyond braces and blanks, and
    not a preprocessor line."""
    code = "".join(c for c, m in zip(line, mask) if m).strip()
    if not code or code.startswith("#"):
        return False
    return re.search(r"[\w!<>=&|+\-]", code) is not None


def load_lines(roots):
    """Every eligible (path, line index) pair, with each file's lines and
    line masks."""
    files, picks = {}, []
    for root in roots:
        for folder, _, names in sorted(os.walk(root)):
            for name in sorted(names):
                if not name.endswith(EXTENSIONS):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="surrogateescape") as f:
                    text = f.read()
                mask = code_mask(text)
                lines, masks, at = text.splitlines(keepends=True), [], 0
                for line in lines:
                    masks.append(mask[at:at + len(line)])
                    at += len(line)
                files[path] = (lines, masks)
                picks += [(path, i) for i, (l, m) in enumerate(zip(lines, masks)) if eligible(l, m)]
    return files, picks


def draw(files, picks, count, rng):
    seen, patches = set(), []
    while len(patches) < count and len(seen) < len(picks):
        path, index = picks[rng.randrange(len(picks))]
        if (path, index) in seen:
            continue
        seen.add((path, index))
        lines, masks = files[path]
        line = lines[index]
        kinds = [(kind, sites) for kind, find in REWRITES.items()
                 if (sites := find(line, masks[index], rng))]
        if not kinds:
            continue
        kind, sites = kinds[rng.randrange(len(kinds))]
        start, end, new = sites[rng.randrange(len(sites))]
        mutated = line[:start] + new + line[end:]
        if mutated == line:
            continue
        changed = lines[:index] + [mutated] + lines[index + 1:]
        diff = difflib.unified_diff(lines, changed, "a/" + path, "b/" + path, n=3)
        where = f"{path}:{index + 1} {kind}: {line[start:end].strip() or '(nothing)'} -> {new.strip() or '(nothing)'}"
        patches.append((where, "".join(diff)))
    return patches


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-n", "--count", type=int, default=120)
    parser.add_argument("-s", "--seed", type=int, default=1)
    parser.add_argument("-o", "--out", default="build/mutants")
    parser.add_argument("roots", nargs="*", default=["libqor", "platform", "app", "fittexts"])
    args = parser.parse_args()
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    files, picks = load_lines(args.roots)
    patches = draw(files, picks, args.count, random.Random(args.seed))
    os.makedirs(args.out, exist_ok=True)
    width = len(str(len(patches)))
    for number, (where, diff) in enumerate(patches, 1):
        name = os.path.join(args.out, f"m{number:0{width}d}.patch")
        with open(name, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(where + "\n\n" + diff)
        print(f"{name}: {where}")
    print(f"{len(patches)} patches from {len(picks)} code lines in {len(files)} files",
          file=sys.stderr)


if __name__ == "__main__":
    main()
