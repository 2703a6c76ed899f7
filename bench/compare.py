#!/usr/bin/env python3
"""Whole-process speed of vorka against peer compressors.

For every input it packs and unpacks with each compressor as a separate
process, checks the round trip, and keeps the median wall time of N timed runs
after one warm-up run. The compressors take turns run by run, so that a drift
of the machine hits all of them alike. Peak memory is the largest resident set
the child reported (getrusage of the waited-for process).

    bench/compare.py --vorka build/vorka [--runs 5] [--big-mb 100] [--out bench/results] [--clock cpu]
    bench/compare.py --vorka build/vorka --files a.bin b.txt [--levels full] [--csv rows.csv] [--json rows.json]

Measures the corpus (its files, the Canterbury and Calgary files concatenated
and a generated file) or, with --files, the files given, with vorka's tree and
hash indexes and each installed peer at a few of its levels (--levels full:
all of them). Writes into the output folder results.md (the table),
results.csv (the rows), results.svg (packed/plain ratio against pack and
unpack speed for the first input) and report.html (one page: every input's
charts and figures; sweep.py's rows join it when it writes into the same
folder), prints the table, and with --csv / --json writes the rows there too.
"""
import argparse
import csv
import filecmp
import hashlib
import html
import json
import os
import pathlib
import platform
import random
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chart  # noqa: E402

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


def writable_folder(path, what="--out"):
    """Makes the folder when it is missing and proves that a file can be
    created in it, before anything is measured; a one-line failure if not."""
    folder = pathlib.Path(path)
    if folder.exists() and not folder.is_dir():
        fail(f"{what} {path} is a file, not a folder")
    try:
        folder.mkdir(parents=True, exist_ok=True)
        fd, probe = tempfile.mkstemp(dir=folder, prefix=".write-probe-")
        os.close(fd)
        os.unlink(probe)
    except OSError as e:
        fail(f"cannot write into {what} {path}: {e.strerror or e}")
    return folder


def writable_file(path, what):
    """The same for a file to be written at the end: its folder takes new
    files, and an existing file of that name can be written over."""
    if os.path.isdir(path):
        fail(f"{what} {path} is a folder, not a file")
    writable_folder(os.path.dirname(os.path.abspath(path)), f"the folder of {what}")
    if os.path.exists(path) and not os.access(path, os.W_OK):
        fail(f"cannot write {what} {path}: permission denied")


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
    """The program with one index: index "tree" or "hash" is passed in
    VORKA_INDEX, which a program that picks its index at run time honours and
    an older one (one index per build) ignores."""

    def __init__(self, exe, name="vorka", extra=(), index="tree"):
        self.exe, self.name, self.extra, self.index = exe, name, list(extra), index
        self.family, self.level = name, ""
        self.env = dict(os.environ, VORKA_INDEX=index)

    # Names are made absolute: vorka takes a name without "/" from its own folder.
    def pack(self, src, packed, peak=False):
        return run([self.exe, "c", f"/0:{os.path.abspath(src)}", f"/1:{os.path.abspath(packed)}", "/go", *self.extra],
                   peak=peak, env=self.env)

    def unpack(self, packed, out, peak=False):
        return run([self.exe, "d", f"/0:{os.path.abspath(packed)}", f"/2:{os.path.abspath(out)}", "/go", *self.extra],
                   peak=peak, env=self.env)


def picks_index_at_run_time(exe):
    """Whether the program reads VORKA_INDEX: given a value it does not know,
    such a program names the two it knows on standard error."""
    with tempfile.TemporaryDirectory(prefix="vorka-probe-") as tmp:
        src = os.path.join(tmp, "probe")
        with open(src, "wb") as f:
            f.write(b"probe probe probe\n")
        r = subprocess.run([exe, "c", f"/0:{src}", f"/1:{src}.packed", "/go"], stdin=subprocess.DEVNULL,
                           capture_output=True, env=dict(os.environ, VORKA_INDEX="no-such-index"))
    err = r.stderr.decode(errors="replace")
    return "tree" in err and "hash" in err


def vorka_builds(exe, hash_exe, tree_name, hash_name):
    """The tree index and, from --vorka-hash or from the one program when it
    picks its index at run time, the hash index."""
    builds = [Vorka(exe, tree_name, index="tree")]
    if hash_exe:
        builds.append(Vorka(hash_exe, hash_name, index="hash"))
    elif picks_index_at_run_time(exe):
        builds.append(Vorka(exe, hash_name, index="hash"))
    else:
        print(f"note: {exe} has one index per build; give --vorka-hash for the hash build", file=sys.stderr)
    return builds


class Filter:
    """A peer that packs standard input to standard output. pack_ok: the exit
    statuses of a successful pack (compress exits 2 when the output is not
    smaller than the input, having written it all the same)."""

    def __init__(self, name, pack_argv, unpack_argv, pack_ok=(0,)):
        self.name, self.pack_argv, self.unpack_argv, self.pack_ok = name, pack_argv, unpack_argv, pack_ok
        self.family, _, self.level = name.partition(" ")

    def pack(self, src, packed, peak=False):
        return run(self.pack_argv, stdin=src, stdout=packed, peak=peak, ok=self.pack_ok)

    def unpack(self, packed, out, peak=False):
        return run(self.unpack_argv, stdin=packed, stdout=out, peak=peak)


# Each peer's ladder of levels: (tool, option prefix, quick levels, all levels,
# extra pack options, unpack command). compress -b16 is the classic peer
# whose figures the table divides by.
LADDERS = [
    ("compress", "-b", [16], range(9, 17), [], ["compress", "-d", "-c"]),
    ("gzip", "-", [1, 6, 9], range(1, 10), [], ["gzip", "-d", "-c"]),
    ("zstd", "-", [1, 3, 9, 19], range(1, 20), ["-q"], ["zstd", "-d", "-c", "-q"]),
    ("xz", "-", [0, 6], range(0, 10), [], ["xz", "-d", "-c"]),
    ("lz4", "-", [1, 9], range(1, 13), [], ["lz4", "-d", "-c"]),
    ("bzip2", "-", [1, 9], range(1, 10), [], ["bzip2", "-d", "-c"]),
]


def peers(levels="quick"):
    found = []
    for tool, prefix, quick, full, extra, unpack in LADDERS:
        if not shutil.which(tool):
            print(f"note: {tool} is not installed; it is left out", file=sys.stderr)
            continue
        for level in quick if levels == "quick" else full:
            name = f"{tool} {prefix}{level}"
            # compress exits 2 when the output is not smaller, having written it.
            found.append(Filter(name, [tool, f"{prefix}{level}", "-c", *extra], unpack,
                                (0, 2) if tool == "compress" else (0,)))
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
                "input": src.name, "size": size, "coder": c.name, "family": c.family, "level": c.level,
                "packed_bytes": s["packed"], "ratio": s["packed"] / size if size else 0.0,
                "pack": size / tp / 1e6, "unpack": size / tu / 1e6, "rss": s["rss"] / 1024,
            })
        print(f"measured {src.name}", file=sys.stderr)
    return rows


def md_cell(text):
    """A name as one Markdown table cell: no line break, no column break, no markup."""
    text = str(text).replace("\\", "\\\\").replace("|", "\\|").replace("\r", "\\r").replace("\n", "\\n")
    return html.escape(text, quote=False)


def table(rows):
    base = {(r["input"]): r for r in rows if r["coder"] == "compress -b16"}
    lines = ["| input | bytes | compressor | packed/plain | pack MB/s | unpack MB/s | peak MiB | pack x compress | unpack x compress |",
             "|---|---:|---|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        b = base.get(r["input"])
        xp = f"{r['pack'] / b['pack']:.2f}" if b and b["pack"] else "-"
        xu = f"{r['unpack'] / b['unpack']:.2f}" if b and b["unpack"] else "-"
        lines.append(f"| {md_cell(r['input'])} | {r['size']} | {r['coder']} | {r['ratio']:.4f} | {r['pack']:.1f} | "
                     f"{r['unpack']:.1f} | {r['rss']:.1f} | {xp} | {xu} |")
    return "\n".join(lines) + "\n"


def svg(rows, focus, meta):
    """The first input's two charts side by side: ratio against pack speed and against unpack speed."""
    pts = [r for r in rows if r["input"] == focus]
    note = f"{meta['date']}; {meta['machine'].split(', Python')[0]}"
    return chart.side_by_side([chart.speed_chart(pts, [], what, f"{focus}: {what}ing", note=note)
                               for what in ("pack", "unpack")])


CSV_FIELDS = ["input", "bytes", "compressor", "packed_per_plain", "pack_mb_s", "unpack_mb_s", "peak_mib",
              "packed_bytes", "family", "level"]


def read_rows(path):
    """Rows as write_rows wrote them (the report is drawn from the files)."""
    with open(path, newline="") as f:
        return [{"input": x["input"], "size": int(x["bytes"]), "coder": x["compressor"],
                 "ratio": float(x["packed_per_plain"]), "pack": float(x["pack_mb_s"]),
                 "unpack": float(x["unpack_mb_s"]), "rss": float(x["peak_mib"]),
                 "packed_bytes": int(x["packed_bytes"]), "family": x["family"], "level": x["level"]}
                for x in csv.DictReader(f)]


def machine():
    model = "?"
    try:
        with open("/proc/cpuinfo") as f:
            model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "?")
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, Python {platform.python_version()}"


def program_version(exe):
    """The project version and source commit of this tree, and which program file was measured."""
    source = pathlib.Path(__file__).resolve().parents[1]
    version = "?"
    try:
        m = re.search(r"project\(vorka VERSION ([0-9.]+)", (source / "CMakeLists.txt").read_text())
        version = m.group(1) if m else "?"
    except OSError:
        pass
    try:
        g = subprocess.run(["git", "-C", str(source), "describe", "--always", "--dirty"], capture_output=True, text=True)
        commit = g.stdout.strip() or "?"
    except OSError:
        commit = "?"
    with open(exe, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()[:12]
    return f"vorka {version}, source {commit}; {exe} (sha256 {digest})"


def run_meta(exe):
    return {"machine": machine(), "date": time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime()),
            "program": program_version(exe), "command": shlex.join(sys.argv)}


def write_report(outdir, tool, meta):
    """Records this run's meta beside the others' and draws report.html from
    every tool's rows in the folder (results.csv of this script, sweep.csv of
    sweep.py)."""
    outdir = pathlib.Path(outdir)
    runs_path = outdir / "runs.json"
    try:
        runs = json.loads(runs_path.read_text()) if runs_path.exists() else {}
    except (OSError, ValueError):
        runs = {}
    runs[tool] = meta
    runs_path.write_text(json.dumps(runs, indent=1) + "\n")
    rows = read_rows(outdir / "results.csv") if (outdir / "results.csv").exists() else []
    sweep = []
    if (outdir / "sweep.csv").exists():
        with open(outdir / "sweep.csv", newline="") as f:
            for x in csv.DictReader(f):
                sweep.append({"file": x["file"], "build": x["build"], "dictionary": int(x["dictionary"]),
                              "bytes": int(x["bytes"]), "packed_bytes": int(x["packed_bytes"]),
                              "ratio": float(x["ratio"]), "pack_mb_s": float(x["pack_mb_s"]),
                              "unpack_mb_s": float(x["unpack_mb_s"]), "pack_peak_mib": float(x["pack_peak_mib"])})
    order = [(t, runs[t]) for t in ("compare.py", "sweep.py") if t in runs]
    (outdir / "report.html").write_text(chart.report_html(rows, sweep, order))
    return outdir / "report.html"


def write_rows(rows, csv_path, json_path):
    fields = ["input", "size", "coder", "ratio", "pack", "unpack", "rss", "packed_bytes", "family", "level"]
    if csv_path:
        # The csv module quotes a name holding a comma, a quote or a line break.
        with open(csv_path, "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(CSV_FIELDS)
            for r in rows:
                w.writerow([r["input"], r["size"], r["coder"], f"{r['ratio']:.6f}", f"{r['pack']:.3f}",
                            f"{r['unpack']:.3f}", f"{r['rss']:.2f}", r["packed_bytes"], r["family"], r["level"]])
    if json_path:
        with open(json_path, "w") as f:
            json.dump([{k: r[k] for k in fields} for r in rows], f, indent=1)
            f.write("\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--vorka", required=True, help="the vorka program to measure")
    ap.add_argument("--vorka-hash", help="a vorka build with the hash index, for a program that does not pick "
                    "its index at run time (VORKA_INDEX)")
    ap.add_argument("--corpus", default=str(pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "corpus"))
    ap.add_argument("--files", nargs="+", metavar="F", help="measure these files instead of the corpus")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--big-mb", type=int, help="size of the generated input; 0 leaves it out "
                    "(default 100 with the corpus, 0 with --files)")
    ap.add_argument("--only", nargs="*", help="measure just these corpus file names (and the concatenation)")
    ap.add_argument("--levels", choices=("quick", "full"), default="quick",
                    help="the peers' levels: a few of each (default) or all of them")
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

    exe = need_program(a.vorka, "the program")
    hash_exe = need_program(a.vorka_hash, "the hash build") if a.vorka_hash else None
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
        if a.only is not None:  # "--only" alone: the concatenation only
            files = [p for p in files if p.name in a.only]
        big_mb = 100 if a.big_mb is None else a.big_mb
    # Everything this run writes is checked before anything is measured.
    outdir = writable_folder(a.out)
    for path, what in ((a.csv, "--csv"), (a.json, "--json")):
        if path:
            writable_file(path, what)
    meta = run_meta(exe)
    coders = vorka_builds(exe, hash_exe, "vorka", "vorka (hash)") + peers(a.levels)
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
    try:
        (outdir / "results.md").write_text(text)
        (outdir / "results.svg").write_text(svg(rows, inputs[0].name, meta))
        write_rows(rows, outdir / "results.csv", None)
        write_rows(rows, a.csv, a.json)
        report = write_report(outdir, "compare.py", meta)
    except OSError as e:
        fail(f"cannot write the results: {e}")
    print(text)
    print(f"report: {report}", file=sys.stderr)


if __name__ == "__main__":
    main()
