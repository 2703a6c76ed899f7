#!/usr/bin/env python3
"""Which /l: for my data? Packs and unpacks each file with a series of
dictionary sizes and shows what each size gives.

    bench/sweep.py --vorka build/vorka [--vorka-hash build/vorka] --out DIR [--runs 3] [--clock cpu] FILE...

The sizes run from 500 up to the most entries the file can create (about
eight steps on a log scale; a larger dictionary packs such a file the same
way), and then the largest, 268435326. Every round trip is checked. Writes
DIR/sweep.csv (one row per file, build and size) and DIR/sweep.svg: the
packed/plain ratio, pack and unpack MB/s and the peak memory of the process
against the dictionary size, one line per file and build. Speeds are the
median of --runs whole-process runs; the peak is the child's largest resident
set.
"""
import argparse
import csv
import filecmp
import html
import math
import os
import pathlib
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402
from compare import BenchError, Vorka, fail, need_program  # noqa: E402

MIN_DICTIONARY = 500
MAX_DICTIONARY = 268435326
STEPS = 8


def sizes_for(plain_bytes, largest=MAX_DICTIONARY):
    """500 up to what the file can use, about STEPS steps apart on a log scale, then the largest.

    Each code creates at most one entry and each literal one more, and a file
    holds at most one code per byte and 256 literals per dictionary epoch: no
    file of n bytes fills n + 259 entries.
    """
    top = max(MIN_DICTIONARY, min(largest, plain_bytes + 259))
    sizes = []
    for i in range(STEPS):
        n = round(MIN_DICTIONARY * (top / MIN_DICTIONARY) ** (i / (STEPS - 1)))
        if not sizes or n > sizes[-1]:
            sizes.append(n)
    if sizes[-1] != largest:
        sizes.append(largest)
    return sizes


def measure(coder, src, size, runs, work):
    """One file, one build, one dictionary size: a checked round trip with
    the peak memory, then runs timed packs and unpacks."""
    plain = src.stat().st_size
    packed, out = work / "packed", work / "out"
    for f in (packed, out):
        if f.exists():
            f.unlink()
    c = Vorka(coder.exe, coder.name, [f"/l:{size}"], coder.index)
    _, pack_peak = c.pack(src, packed, peak=True)
    _, unpack_peak = c.unpack(packed, out, peak=True)
    if not packed.exists():
        raise BenchError(f"{coder.name} wrote no packed file for {src} with /l:{size}")
    if not out.exists() or not filecmp.cmp(src, out, shallow=False):
        raise BenchError(f"{coder.name}: round trip of {src} with /l:{size} differs")
    packed_bytes = packed.stat().st_size
    pack_times, unpack_times = [], []
    for _ in range(runs):
        pack_times.append(c.pack(src, packed)[0])
        unpack_times.append(c.unpack(packed, out)[0])
    tp, tu = statistics.median(pack_times), statistics.median(unpack_times)
    return {
        "file": src.name, "build": coder.name, "dictionary": size, "bytes": plain, "packed_bytes": packed_bytes,
        "ratio": packed_bytes / plain if plain else 0.0,
        "pack_mb_s": plain / tp / 1e6 if tp > 0 else 0.0, "unpack_mb_s": plain / tu / 1e6 if tu > 0 else 0.0,
        "pack_peak_mib": pack_peak / 1024, "unpack_peak_mib": unpack_peak / 1024,
    }


FIELDS = ["file", "build", "dictionary", "bytes", "packed_bytes", "ratio", "pack_mb_s", "unpack_mb_s",
          "pack_peak_mib", "unpack_peak_mib"]


def write_csv(rows, path):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(FIELDS)
        for r in rows:
            w.writerow([r["file"], r["build"], r["dictionary"], r["bytes"], r["packed_bytes"], f"{r['ratio']:.6f}",
                        f"{r['pack_mb_s']:.3f}", f"{r['unpack_mb_s']:.3f}", f"{r['pack_peak_mib']:.2f}",
                        f"{r['unpack_peak_mib']:.2f}"])


def svg(rows):
    """Four panels against the dictionary size (log scale), one line per file and build."""
    panels = [("packed/plain ratio", lambda r: r["ratio"]), ("pack MB/s", lambda r: r["pack_mb_s"]),
              ("unpack MB/s", lambda r: r["unpack_mb_s"]),
              ("peak MiB, log scale (pack; unpack dashed)", lambda r: r["pack_peak_mib"])]
    colours = ["#c0392b", "#2471a3", "#229954", "#b7950b", "#7d3c98", "#ca6f1e", "#17a589", "#555555"]
    lines = {}
    for r in rows:
        lines.setdefault((r["file"], r["build"]), []).append(r)
    w, h, left, top, gap = 440, 220, 60, 50, 50
    legend_h = 16 * len(lines) + 10
    width, height = 2 * w + 20, top + 2 * (h + gap) + legend_h
    lo, hi = math.log10(MIN_DICTIONARY), math.log10(MAX_DICTIONARY)
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'font-family="sans-serif" font-size="11">',
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="10" y="18" font-size="13">vorka by dictionary size (/l:): ratio, speed and peak memory '
           '(whole processes); both builds write the same files, so their ratios coincide</text>']
    for i, (label, value) in enumerate(panels):
        x0 = 10 + (i % 2) * (w + 10)
        y0 = top + (i // 2) * (h + gap)
        pw, ph = w - left - 10, h - 30
        ymax = max((value(r) for r in rows), default=0)
        # Memory spans from one MiB to gigabytes: a log scale, 1 MiB up.
        log_y = i == 3
        if log_y:
            ymax = max([ymax] + [r["unpack_peak_mib"] for r in rows])
            ymax = 10 ** math.ceil(math.log10(max(ymax, 10)))
        else:
            ymax = ymax * 1.1 if ymax > 0 else 1.0
        px0 = x0 + left

        def yfrac(v):
            if log_y:
                return math.log10(max(v, 1.0)) / math.log10(ymax)
            return v / ymax

        def xy(r, v):
            x = px0 + pw * (math.log10(r["dictionary"]) - lo) / (hi - lo)
            return x, y0 + ph * (1 - yfrac(v))
        out.append(f'<rect x="{px0}" y="{y0}" width="{pw}" height="{ph}" fill="none" stroke="#888"/>')
        out.append(f'<text x="{px0}" y="{y0 - 6}">{label}</text>')
        ticks = [10 ** e for e in range(round(math.log10(ymax)) + 1)] if log_y else [ymax * t / 2 for t in range(3)]
        for v in ticks:
            text = f"{v:.2f}" if ymax < 10 else f"{v:.0f}"
            out.append(f'<text x="{px0 - 6}" y="{y0 + ph * (1 - yfrac(v)) + 4:.0f}" text-anchor="end">{text}</text>')
        for e in range(3, 9):
            x = px0 + pw * (e - lo) / (hi - lo)
            out.append(f'<text x="{x:.0f}" y="{y0 + ph + 14}" text-anchor="middle">1e{e}</text>')
        for k, pts in enumerate(lines.values()):
            c = colours[k % len(colours)]
            xs = " ".join("%.1f,%.1f" % xy(r, value(r)) for r in pts)
            out.append(f'<polyline fill="none" stroke="{c}" stroke-width="1.5" points="{xs}"/>')
            for r in pts:
                out.append('<circle cx="%.1f" cy="%.1f" r="2.5" fill="%s"/>' % (*xy(r, value(r)), c))
            if i == 3:
                xs = " ".join("%.1f,%.1f" % xy(r, r["unpack_peak_mib"]) for r in pts)
                out.append(f'<polyline fill="none" stroke="{c}" stroke-dasharray="4 3" points="{xs}"/>')
    y = top + 2 * (h + gap) - 10
    out.append(f'<text x="{width / 2:.0f}" y="{y - 12}" text-anchor="middle">dictionary size, entries (log scale)'
               '</text>')
    for k, (f, b) in enumerate(lines):
        c = colours[k % len(colours)]
        out.append(f'<rect x="20" y="{y + 16 * k}" width="12" height="3" fill="{c}"/>')
        out.append(f'<text x="38" y="{y + 16 * k + 5}">{html.escape(f)} ({html.escape(b)})</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--vorka", required=True, help="the vorka program")
    ap.add_argument("--vorka-hash", help="the program to sweep again packing with the hash index (VORKA_INDEX=hash)")
    ap.add_argument("--out", required=True, help="folder for sweep.csv and sweep.svg")
    ap.add_argument("--runs", type=int, default=3, help="timed runs per measurement (median)")
    ap.add_argument("--clock", choices=("wall", "cpu"), default="wall",
                    help="time each process by the clock (default) or by its CPU time (for busy machines)")
    ap.add_argument("--largest", type=int, default=MAX_DICTIONARY,
                    help="the largest dictionary tried (default and most: 268435326)")
    ap.add_argument("files", nargs="+", metavar="FILE")
    a = ap.parse_args()
    if a.runs < 1:
        fail("--runs must be at least 1")
    if not MIN_DICTIONARY <= a.largest <= MAX_DICTIONARY:
        fail(f"--largest must lie between {MIN_DICTIONARY} and {MAX_DICTIONARY}")
    compare.CLOCK = a.clock
    builds = [Vorka(need_program(a.vorka, "the program"), "tree")]
    if a.vorka_hash:
        builds.append(Vorka(need_program(a.vorka_hash, "the hash build"), "hash", index="hash"))
    files = [pathlib.Path(f) for f in a.files]
    for f in files:
        if not f.is_file():
            fail(f"{f} is not a file")
    outdir = pathlib.Path(a.out)
    outdir.mkdir(parents=True, exist_ok=True)

    rows = []
    with tempfile.TemporaryDirectory(prefix="vorka-sweep-") as tmp:
        try:
            for f in files:
                for b in builds:
                    for size in sizes_for(f.stat().st_size, a.largest):
                        rows.append(measure(b, f, size, a.runs, pathlib.Path(tmp)))
                print(f"swept {f.name}", file=sys.stderr)
        except (BenchError, OSError) as e:
            fail(str(e))
    write_csv(rows, outdir / "sweep.csv")
    (outdir / "sweep.svg").write_text(svg(rows))
    for r in rows:
        print(f"{r['file']} {r['build']} /l:{r['dictionary']}: {r['ratio']:.4f}, pack {r['pack_mb_s']:.1f} MB/s, "
              f"unpack {r['unpack_mb_s']:.1f} MB/s, peak {r['pack_peak_mib']:.1f}/{r['unpack_peak_mib']:.1f} MiB")


if __name__ == "__main__":
    main()
