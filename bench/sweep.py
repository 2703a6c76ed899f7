#!/usr/bin/env python3
"""Which /l: for my data? Packs and unpacks each file with a series of
dictionary sizes and shows what each size gives.

    bench/sweep.py --vorka build/vorka [--vorka-hash build-hash/vorka] --out DIR [--runs 3] [--clock cpu] FILE...

The sizes run from 500 up to the most entries the file can create (about
eight steps on a log scale; a larger dictionary packs such a file the same
way), and then the largest, 268435326. Every round trip is checked. Writes
DIR/sweep.csv (one row per file, index and size) and DIR/sweep.svg: the
packed/plain ratio, pack and unpack MB/s and the peak memory of the process
against the dictionary size, one line per file and index. Speeds are the
median of --runs whole-process runs; the peak is the child's largest resident
set. The hash index is swept beside the trees when the program picks its
index at run time (VORKA_INDEX) or a hash build is given. Given the --out of
compare.py, the sweep joins its report.html as a line per file and index.
"""
import argparse
import csv
import filecmp
import os
import pathlib
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chart  # noqa: E402
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


DEFAULT_DICTIONARY = 100000


def svg(rows):
    """Five panels against the dictionary size (log scale), one line per file
    and index: the trees solid and wide, the hash index dashed over them (both
    write the same files, so their ratios coincide)."""
    lines = {}
    for r in rows:
        lines.setdefault((r["file"], r["build"]), []).append(r)
    used = {}
    files = list(dict.fromkeys(r["file"] for r in rows))

    def series(value, what, unit):
        out = []
        for (f, b), pts in lines.items():
            hashed = b == "hash"
            out.append(chart.Series(
                f"{f} ({b})", [(r["dictionary"], value(r), f"{f}, {b} index, /l:{r['dictionary']}: {what} "
                                f"{value(r):.4g}{unit}, packed/plain {r['ratio']:.4f}, {r['packed_bytes']} packed bytes")
                               for r in pts],
                chart.colour_for(f, used), marker="square" if hashed else "circle", dash="5 3" if hashed else "",
                size=2.5 if hashed else 3.5, stroke=1.2 if hashed else 3))
        # Hash lines after the tree lines, so that both stay in sight.
        return sorted(out, key=lambda s: s.dash != "")
    panels = [
        chart.Panel("packed/plain ratio (lower is better)", series(lambda r: r["ratio"], "packed/plain", "")),
        chart.Panel("pack MB/s", series(lambda r: r["pack_mb_s"], "pack", " MB/s"), zero=True),
        chart.Panel("unpack MB/s", series(lambda r: r["unpack_mb_s"], "unpack", " MB/s"), zero=True),
        chart.Panel("peak MiB while packing (log scale)", series(lambda r: r["pack_peak_mib"], "peak", " MiB"), log=True),
        chart.Panel("peak MiB while unpacking (log scale)", series(lambda r: r["unpack_peak_mib"], "peak", " MiB"),
                    log=True),
    ]
    return chart.svg(f"vorka by dictionary size (/l:): {', '.join(files)}", panels,
                     "dictionary size, entries (log scale)", xlog=True,
                     xmarks=[(DEFAULT_DICTIONARY, "default /l:100000", "#888888")],
                     note="ratio, speed and peak memory of whole processes; trees solid, hash index dashed",
                     width=760, panel_height=170, legend_width=210)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--vorka", required=True, help="the vorka program")
    ap.add_argument("--vorka-hash", help="a second build (child index: hash), swept beside it")
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
    exe = need_program(a.vorka, "the program")
    hash_exe = need_program(a.vorka_hash, "the hash build") if a.vorka_hash else None
    files = [pathlib.Path(f) for f in a.files]
    for f in files:
        if not f.is_file():
            fail(f"{f} is not a file")
    # The output is checked before anything is measured.
    outdir = compare.writable_folder(a.out)
    meta = compare.run_meta(exe)
    builds = compare.vorka_builds(exe, hash_exe, "tree", "hash")

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
    try:
        write_csv(rows, outdir / "sweep.csv")
        (outdir / "sweep.svg").write_text(svg(rows))
        report = compare.write_report(outdir, "sweep.py", meta)
    except OSError as e:
        fail(f"cannot write the results: {e}")
    for r in rows:
        print(f"{r['file']} {r['build']} /l:{r['dictionary']}: {r['ratio']:.4f}, pack {r['pack_mb_s']:.1f} MB/s, "
              f"unpack {r['unpack_mb_s']:.1f} MB/s, peak {r['pack_peak_mib']:.1f}/{r['unpack_peak_mib']:.1f} MiB")
    print(f"report: {report}", file=sys.stderr)


if __name__ == "__main__":
    main()
