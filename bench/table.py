#!/usr/bin/env python3
"""Prints the results of scripts/bench.sh as one table.

Input: tab-separated lines ROW, TOOL, MS|fail|psnr, PEAK_KB, OP_MS, PSNR.
Each cell of a peer is "milliseconds / peak MB". "peer / ours" is the
fastest single-threaded peer's time over ours, or, in a row that times only
peers with their own threads (the movie's codec-threads row), the fastest of
those: above 1 the library wins.
"""
import sys

PEERS = ["IM-1t", "IM-all", "vips-1t", "vips-all", "ffmpeg-1t", "ffmpeg-all", "pngquant"]
SINGLE = ["IM-1t", "vips-1t", "ffmpeg-1t", "pngquant"]
THREADED = ["IM-all", "vips-all", "ffmpeg-all"]


def main(path):
    rows = {}
    order = []
    for line in open(path, encoding="utf-8"):
        parts = line.rstrip("\n").split("\t")
        parts += [""] * (6 - len(parts))
        row, tool, ms, kb, op, psnr = parts[:6]
        if row not in rows:
            rows[row] = {}
            order.append(row)
        entry = rows[row].setdefault(tool, {})
        if ms == "psnr":
            entry["psnr"] = psnr
        elif ms == "fail":
            entry["fail"] = True
        elif tool == "decoded":
            entry["kb"] = int(kb)
        else:
            entry["ms"] = int(ms)
            entry["kb"] = int(kb) if kb else 0
            entry["op"] = op

    used = [p for p in PEERS if any(p in rows[r] for r in order)]
    head = ["row", "ours ms", "op ms", "ours MB"] + used + ["peer / ours", "PSNR dB"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for r in order:
        t = rows[r]
        ours = t.get("ours", {})

        def cell(tool):
            e = t.get(tool)
            if not e:
                return ""
            if e.get("fail"):
                return "fail"
            if "ms" not in e:
                return ""
            return "%d / %.0f" % (e["ms"], e["kb"] / 1024)

        ours_ms = ours.get("ms")
        ratio = ""
        singles = [(t[p]["ms"], p) for p in SINGLE if p in t and "ms" in t[p]]
        if not singles:
            singles = [(t[p]["ms"], p) for p in THREADED if p in t and "ms" in t[p]]
        if ours_ms and singles:
            best, who = min(singles)
            ratio = "%.2f (%s)" % (best / ours_ms, who)
        psnrs = []
        for tool in ["ours", "IM-1t", "pngquant", "ffmpeg-1t"]:
            if tool in t and t[tool].get("psnr"):
                psnrs.append("%s %s" % (tool, t[tool]["psnr"]))
        ours_mb = "%.0f" % (ours["kb"] / 1024) if "kb" in ours else ""
        if "decoded" in t:
            ours_mb += " (image %.0f)" % (t["decoded"]["kb"] / 1024)
        line = [r, str(ours_ms) if ours_ms is not None else ("fail" if ours.get("fail") else ""),
                ours.get("op", ""), ours_mb] + [cell(p) for p in used] + [ratio, "; ".join(psnrs)]
        print("| " + " | ".join(line) + " |")


if __name__ == "__main__":
    main(sys.argv[1])
