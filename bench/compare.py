#!/usr/bin/env python3
"""Whole-process speed of vorka against peer compressors.

For every input it packs and unpacks with each compressor as a separate
process, checks the round trip, and keeps the median wall time of N timed runs
after one warm-up run. The compressors take turns run by run, so that a drift
of the machine hits all of them alike. Peak memory is the largest resident set
the child reported (getrusage of the waited-for process).

    bench/compare.py --vorka build/vorka [--runs 5] [--big-mb 100] [--out bench/results] [--clock cpu]
    bench/compare.py --vorka build/vorka --files a.bin b.txt [--csv rows.csv] [--json rows.json]

Measures the corpus (its files, the Canterbury and Calgary files concatenated
and a generated file) or, with --files, the files given. Writes results.md
(the table) and results.svg (packed/plain ratio against pack and unpack speed)
into the output folder, prints the table, and with --csv / --json writes the
rows in that form too.
"""
import argparse
import csv
import filecmp
import html
import json
import os
import pathlib
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

GNU_TIME = "/usr/bin/time"
# "wall": elapsed time of each process; "cpu": its user + system time, which
# other work on a shared machine disturbs far less.
CLOCK = "wall"
PEAK_NOTE = False


class BenchError(Exception):
    """A failure worth one line to the user, not a traceback."""


def fail(message):
    print(f"{os.path.basename(sys.argv[0])}: {message}", file=sys.stderr)
    sys.exit(1)


def need_program(path, what):
    """The absolute path of an executable file, or a one-line failure."""
    if not os.path.isfile(path) or not os.access(path, os.X_OK):
        fail(f"{what} {path} is not an executable file (build it first)")
    return os.path.abspath(path)


def run(argv, stdin=None, stdout=None, peak=False, ok=(0,), env=None):
    """Runs argv, returns (seconds, peak RSS in KiB or 0); raises BenchError on
    an exit status not in ok.

    The peak of a child that Python starts directly is useless: Linux carries
    the high-water mark of the spawning process (Python's own 16 MiB) over the
    exec. With peak=True the child is started through GNU time, a small
    process, whose report is the child's own peak.
    """
    fin = open(stdin, "rb") if stdin else subprocess.DEVNULL
    fout = open(stdout, "wb") if stdout else subprocess.DEVNULL
    report = None
    if peak and os.path.exists(GNU_TIME):
        fd, report = tempfile.mkstemp(prefix="peak")
        os.close(fd)
        argv = [GNU_TIME, "-f", "%M", "-o", report, *argv]
    try:
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdin=fin, stdout=fout, stderr=subprocess.PIPE, env=env)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
        if CLOCK == "cpu":
            elapsed = usage.ru_utime + usage.ru_stime
        proc.returncode = os.waitstatus_to_exitcode(status)
        err = proc.stderr.read()
        proc.stderr.close()
    finally:
        if stdin:
            fin.close()
        if stdout:
            fout.close()
    if proc.returncode not in ok:
        detail = err.decode(errors="replace").strip().splitlines()
        raise BenchError(f"{' '.join(map(str, argv))} exited {proc.returncode}"
                         + (f": {detail[-1]}" if detail else ""))
    rss = 0
    if report:
        with open(report) as f:
            lines = f.read().split()
        os.unlink(report)
        rss = int(lines[-1]) if lines else 0
    elif peak:
        # Without GNU time the child's own figure is all there is; it is at
        # least this process's resident set.
        rss = usage.ru_maxrss
        global PEAK_NOTE
        if not PEAK_NOTE:
            PEAK_NOTE = True
            print(f"note: {GNU_TIME} is missing; peak memory includes this script's own", file=sys.stderr)
    return elapsed, rss


class Vorka:
    """The program; index is the child index it packs with (VORKA_INDEX)."""

    def __init__(self, exe, name="vorka", extra=(), index="tree"):
        self.exe, self.name, self.extra, self.index = exe, name, list(extra), index
        self.env = dict(os.environ, VORKA_INDEX=index)

    # Names are made absolute: vorka takes a name without "/" from its own folder.
    def pack(self, src, packed, peak=False):
        return run([self.exe, "c", f"/0:{os.path.abspath(src)}", f"/1:{os.path.abspath(packed)}", "/go", *self.extra],
                   peak=peak, env=self.env)

    def unpack(self, packed, out, peak=False):
        return run([self.exe, "d", f"/0:{os.path.abspath(packed)}", f"/2:{os.path.abspath(out)}", "/go", *self.extra],
                   peak=peak, env=self.env)


class Filter:
    """A peer that packs standard input to standard output. pack_ok: the exit
    statuses of a successful pack (compress exits 2 when the output is not
    smaller than the input, having written it all the same)."""

    def __init__(self, name, pack_argv, unpack_argv, pack_ok=(0,)):
        self.name, self.pack_argv, self.unpack_argv, self.pack_ok = name, pack_argv, unpack_argv, pack_ok

    def pack(self, src, packed, peak=False):
        return run(self.pack_argv, stdin=src, stdout=packed, peak=peak, ok=self.pack_ok)

    def unpack(self, packed, out, peak=False):
        return run(self.unpack_argv, stdin=packed, stdout=out, peak=peak)


def peers():
    found = []
    table = [
        ("compress -b16", "compress", ["compress", "-c", "-b16"], ["compress", "-d", "-c"]),
        ("gzip -1", "gzip", ["gzip", "-1", "-c"], ["gzip", "-d", "-c"]),
        ("gzip -6", "gzip", ["gzip", "-6", "-c"], ["gzip", "-d", "-c"]),
        ("lz4 -1", "lz4", ["lz4", "-1", "-c"], ["lz4", "-d", "-c"]),
        ("zstd -1", "zstd", ["zstd", "-1", "-c", "-q"], ["zstd", "-d", "-c", "-q"]),
    ]
    for name, tool, p, u in table:
        if shutil.which(tool):
            found.append(Filter(name, p, u, (0, 2) if tool == "compress" else (0,)))
        else:
            print(f"note: {tool} is not installed; {name} left out", file=sys.stderr)
    return found


def make_big(path, megabytes, corpus):
    """A generated input: corpus text and binary pieces in a seeded random order,
    with some noise, so it is neither one repeated block nor incompressible."""
    rng = random.Random(20261209)
    pieces = [p.read_bytes() for p in sorted(corpus.rglob("*")) if p.is_file() and p.stat().st_size < 4 << 20]
    if not pieces:
        pieces = [bytes(rng.randrange(256) for _ in range(65536))]
    target = megabytes << 20
    with open(path, "wb") as f:
        written = 0
        while written < target:
            p = rng.choice(pieces)
            start = rng.randrange(max(1, len(p) - 65536))
            chunk = bytearray(p[start:start + rng.randrange(4096, 65536)])
            for _ in range(len(chunk) // 2048):
                chunk[rng.randrange(len(chunk))] = rng.randrange(256)
            f.write(chunk)
            written += len(chunk)


def measure(inputs, coders, runs, scratch):
    rows = []
    for src in inputs:
        size = src.stat().st_size
        samples = {c.name: {"pack": [], "unpack": [], "rss": 0, "packed": 0} for c in coders}
        for r in range(runs + 1):
            for c in coders:
                packed = scratch / "packed"
                out = scratch / "out"
                for f in (packed, out):
                    if f.exists():
                        f.unlink()
                # The warm-up round also takes the peak memory (through GNU
                # time, which is then not timed).
                tp, rp = c.pack(src, packed, peak=r == 0)
                tu, ru = c.unpack(packed, out, peak=r == 0)
                # vorka ends with status 0 even when a run failed: a missing
                # output is its failure.
                if not packed.exists():
                    raise BenchError(f"{c.name} wrote no packed file for {src}")
                if not out.exists() or not filecmp.cmp(src, out, shallow=False):
                    raise BenchError(f"{c.name}: round trip of {src} differs")
                s = samples[c.name]
                s["packed"] = packed.stat().st_size
                s["rss"] = max(s["rss"], rp, ru)
                if r > 0:  # the first round warms caches and is not counted
                    s["pack"].append(tp)
                    s["unpack"].append(tu)
        for c in coders:
            s = samples[c.name]
            tp, tu = statistics.median(s["pack"]), statistics.median(s["unpack"])
            rows.append({
                "input": src.name, "size": size, "coder": c.name,
                "ratio": s["packed"] / size if size else 0.0,
                "pack": size / tp / 1e6, "unpack": size / tu / 1e6, "rss": s["rss"] / 1024,
            })
        print(f"measured {src.name}", file=sys.stderr)
    return rows


def table(rows):
    base = {(r["input"]): r for r in rows if r["coder"] == "compress -b16"}
    lines = ["| input | bytes | compressor | packed/plain | pack MB/s | unpack MB/s | peak MiB | pack x compress | unpack x compress |",
             "|---|---:|---|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        b = base.get(r["input"])
        xp = f"{r['pack'] / b['pack']:.2f}" if b and b["pack"] else "-"
        xu = f"{r['unpack'] / b['unpack']:.2f}" if b and b["unpack"] else "-"
        lines.append(f"| {r['input']} | {r['size']} | {r['coder']} | {r['ratio']:.4f} | {r['pack']:.1f} | "
                     f"{r['unpack']:.1f} | {r['rss']:.1f} | {xp} | {xu} |")
    return "\n".join(lines) + "\n"


def svg(rows, focus):
    """Two scatter plots side by side: ratio against pack speed, ratio against unpack speed."""
    pts = [r for r in rows if r["input"] == focus]
    w, h, pad = 420, 320, 50
    colours = ["#c0392b", "#2471a3", "#229954", "#b7950b", "#7d3c98", "#ca6f1e", "#17a589", "#555555"]
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{2 * w}" height="{h + 40}" font-family="sans-serif" font-size="11">',
           f'<text x="10" y="16" font-size="13">{html.escape(focus)}: packed/plain ratio against speed (whole processes, median)</text>']
    ymax = max(r["ratio"] for r in pts) * 1.1 or 1
    for panel, key in enumerate(("pack", "unpack")):
        x0 = panel * w
        xmax = max(r[key] for r in pts) * 1.1 or 1
        out.append(f'<rect x="{x0 + pad}" y="30" width="{w - pad - 20}" height="{h - pad}" fill="none" stroke="#888"/>')
        out.append(f'<text x="{x0 + w / 2 - 30}" y="{h + 20}">{key} MB/s</text>')
        out.append(f'<text x="{x0 + 5}" y="26">ratio</text>')
        for t in range(5):
            xv = xmax * t / 4
            xp = x0 + pad + (w - pad - 20) * t / 4
            out.append(f'<text x="{xp - 8:.0f}" y="{h - pad + 44}">{xv:.0f}</text>')
            yv = ymax * t / 4
            yp = 30 + (h - pad) * (1 - t / 4)
            out.append(f'<text x="{x0 + 12}" y="{yp + 4:.0f}">{yv:.2f}</text>')
        for i, r in enumerate(pts):
            px = x0 + pad + (w - pad - 20) * r[key] / xmax
            py = 30 + (h - pad) * (1 - r["ratio"] / ymax)
            c = colours[i % len(colours)]
            out.append(f'<circle cx="{px:.1f}" cy="{py:.1f}" r="5" fill="{c}"/>')
            out.append(f'<text x="{px + 7:.1f}" y="{py - 6:.1f}" fill="{c}">{html.escape(r["coder"])}</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def write_rows(rows, csv_path, json_path):
    fields = ["input", "size", "coder", "ratio", "pack", "unpack", "rss"]
    if csv_path:
        with open(csv_path, "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(["input", "bytes", "compressor", "packed_per_plain", "pack_mb_s", "unpack_mb_s", "peak_mib"])
            for r in rows:
                w.writerow([r["input"], r["size"], r["coder"], f"{r['ratio']:.6f}", f"{r['pack']:.3f}",
                            f"{r['unpack']:.3f}", f"{r['rss']:.2f}"])
    if json_path:
        with open(json_path, "w") as f:
            json.dump([{k: r[k] for k in fields} for r in rows], f, indent=1)
            f.write("\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--vorka", required=True, help="the vorka program to measure")
    ap.add_argument("--vorka-hash", help="the program to measure again packing with the hash index "
                                         "(VORKA_INDEX=hash); usually the same as --vorka")
    ap.add_argument("--corpus", default=str(pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "corpus"))
    ap.add_argument("--files", nargs="+", metavar="F", help="measure these files instead of the corpus")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--big-mb", type=int, help="size of the generated input; 0 leaves it out "
                    "(default 100 with the corpus, 0 with --files)")
    ap.add_argument("--only", nargs="*", help="measure just these corpus file names (and the concatenation)")
    ap.add_argument("--out", default="bench/results")
    ap.add_argument("--csv", metavar="PATH", help="also write the rows as CSV")
    ap.add_argument("--json", metavar="PATH", help="also write the rows as JSON")
    ap.add_argument("--clock", choices=("wall", "cpu"), default="wall",
                    help="time each process by the clock (default) or by its CPU time (for busy machines)")
    a = ap.parse_args()
    global CLOCK
    CLOCK = a.clock
    if a.runs < 1:
        fail("--runs must be at least 1")

    coders = [Vorka(need_program(a.vorka, "the program"))]
    if a.vorka_hash:
        coders.append(Vorka(need_program(a.vorka_hash, "the hash build"), "vorka (hash)", index="hash"))
    corpus = pathlib.Path(a.corpus)
    if a.files:
        files = [pathlib.Path(f) for f in a.files]
        for f in files:
            if not f.is_file():
                fail(f"{f} is not a file")
        big_mb = a.big_mb or 0
    else:
        if not corpus.is_dir():
            fail(f"no corpus at {corpus} (give --corpus DIR, or --files F...)")
        files = sorted(p for p in corpus.rglob("*") if p.is_file() and p.parent.name != "corpus")
        if a.only:
            files = [p for p in files if p.name in a.only]
        big_mb = 100 if a.big_mb is None else a.big_mb
    coders += peers()

    outdir = pathlib.Path(a.out)
    outdir.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="vorka-bench-") as tmp:
        scratch = pathlib.Path(tmp)
        inputs = list(files)
        if not a.files:
            cc = scratch / "cantrbry+calgary"
            with open(cc, "wb") as f:
                for p in sorted(corpus.glob("canterbury/*")) + sorted(corpus.glob("calgary/*")):
                    f.write(p.read_bytes())
            inputs.insert(0, cc)
        if big_mb:
            big = scratch / f"generated-{big_mb}MB"
            make_big(big, big_mb, corpus)
            inputs.append(big)
        work = scratch / "work"
        work.mkdir()
        try:
            rows = measure(inputs, coders, a.runs, work)
        except (BenchError, OSError) as e:
            fail(str(e))
    text = table(rows)
    (outdir / "results.md").write_text(text)
    (outdir / "results.svg").write_text(svg(rows, inputs[0].name))
    write_rows(rows, a.csv, a.json)
    print(text)


if __name__ == "__main__":
    main()
