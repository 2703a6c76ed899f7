#!/usr/bin/env python3
"""Checks of the tools around the program, run by CTest:

    check_tools.py profile|compare|sweep|readme --vorka EXE [--profile EXE] [--source DIR] [--corpus DIR]
    check_tools.py report --vorka EXE --screenshot PNG

Each check runs the real tool on small inputs (a seeded random file, an empty
file, a seeded text and a corpus file when the corpus is there) and tests what
it wrote against the program itself: packed sizes, resets and phrase lengths
come from running `vorka c` on the same file, not from the tool. A failed
check prints what differed and exits 1. The report check opens compare.py's
report.html in headless Chromium (Debian's chromium, chromium-driver and
python3-selenium) and saves a screenshot.
"""
import argparse
import csv
import json
import os
import pathlib
import random
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

MAX_DICTIONARY = 268435326
FAILURES = []


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print("FAIL: " + message)
    return condition


def make_inputs(folder, corpus):
    """name -> (path, kind); kind "random" or "text"."""
    rng = random.Random(16)
    files = {}
    rnd = folder / "random.bin"
    rnd.write_bytes(bytes(rng.randrange(256) for _ in range(150000)))
    files["random"] = (rnd, "random")
    empty = folder / "empty.txt"
    empty.write_bytes(b"")
    files["empty"] = (empty, "empty")
    words = ["the ", "bench ", "packs ", "a ", "file ", "into ", "codes ", "and ", "back, ", "словарь ", "фраза ", "\n"]
    text = folder / "words.txt"
    text.write_text("".join(rng.choice(words) for _ in range(60000)))
    files["text"] = (text, "text")
    alice = pathlib.Path(corpus) / "canterbury" / "alice29.txt"
    if alice.is_file():
        files["corpus"] = (alice, "text")
    else:
        print(f"note: no corpus file at {alice}; the corpus case is left out")
    return files


def run(argv, **kw):
    env = dict(os.environ, LC_ALL="C.UTF-8")
    try:
        return subprocess.run(argv, capture_output=True, env=env, **kw)
    except subprocess.TimeoutExpired as e:
        return subprocess.CompletedProcess(argv, "timed out", e.stdout or b"", e.stderr or b"")


def vorka_pack(vorka, src, packed, settings=()):
    """Packs with the real program; returns (code stream bytes, resets, longest phrase)."""
    r = run([vorka, "c", f"/0:{os.path.abspath(src)}", f"/1:{os.path.abspath(packed)}", *settings, "/go"])
    out = r.stdout.decode()
    m = re.search(r"Сбросов словаря: (\d+)\. Макс\. длина фрагмента: (\d+)", out)
    if not check(m is not None and packed.exists(), f"vorka c {src} {settings} failed:\n{out}"):
        return None
    data = packed.read_bytes()
    # 61-byte fixed header, 2-byte InfoLen, the information part, the code
    # stream, the 4-byte end marker.
    info_len = int.from_bytes(data[61:63], "little")
    return len(data) - 61 - 2 - info_len - 4, int(m.group(1)), int(m.group(2))


def svg_root(path):
    try:
        return ET.parse(path).getroot()
    except (ET.ParseError, OSError) as e:
        check(False, f"{path} is no well-formed SVG: {e}")
        return None


def check_profile(a, work, files):
    settings_table = [
        ("defaults", ()),
        ("small dictionary, short phrases", ("/l:500", "/z:10")),
        ("middle dictionary", ("/l:5000",)),
    ]
    for name, (src, kind) in files.items():
        for title, settings in settings_table:
            label = f"profile {name}, {title}"
            out = work / f"profile-{name}-{len(settings)}"
            r = run([a.profile, str(src), str(out), *settings])
            if not check(r.returncode == 0, f"{label}: vorka-profile exited {r.returncode}: {r.stderr.decode()}"):
                continue
            with open(out / "profile.csv") as f:
                rows = list(csv.DictReader(f))
            truth = vorka_pack(a.vorka, src, work / "packed", settings)
            if truth is None:
                continue
            stream_bytes, resets, longest = truth
            size = src.stat().st_size
            bits = sum(int(x["bits"]) for x in rows)
            check(bits == 8 * stream_bytes,
                  f"{label}: profile bits {bits} != 8 x code stream {stream_bytes} bytes of vorka c")
            check(sum(int(x["bytes"]) for x in rows) == size, f"{label}: rows do not cover the {size} input bytes")
            check(len(rows) == (size + 65535) // 65536, f"{label}: {len(rows)} rows for {size} bytes")
            check(sum(int(x["resets"]) for x in rows) == resets,
                  f"{label}: resets add up to {sum(int(x['resets']) for x in rows)}, vorka says {resets}")
            if rows:
                check(int(rows[-1]["longest"]) == longest,
                      f"{label}: longest phrase {rows[-1]['longest']}, vorka says {longest}")
            dic = 100000
            max_frag = dic
            for s in settings:
                if s.startswith("/l:"):
                    dic = max_frag = int(s[3:])
            for s in settings:
                if s.startswith("/z:"):
                    max_frag = min(int(s[3:]), dic)
            previous = 0
            for i, x in enumerate(rows):
                n, b, codes = int(x["bytes"]), int(x["bits"]), int(x["codes"])
                width, lp, entries = int(x["width"]), int(x["longest"]), int(x["new_entries"])
                where = f"{label}, row {i}"
                # The width is the least that holds every code sent since the
                # last reset, and codes are node numbers below the dictionary size.
                check(2 <= width <= 28 and (1 << (width - 1)) < dic, f"{where}: width {width}, dictionary {dic}")
                check(previous <= lp <= max_frag, f"{where}: longest {lp} after {previous}, limit {max_frag}")
                previous = lp
                # Every code covers at least one byte; the last row also
                # sends the final phrase. Each code is at least 2 bits.
                check(0 < codes <= n + 1 and b >= 2 * codes, f"{where}: {codes} codes, {b} bits for {n} bytes")
                check(entries <= codes + 256 * (int(x["resets"]) + 1), f"{where}: {entries} entries, {codes} codes")
                if max_frag == dic:
                    # No phrase reaches the limit, so every code but one per
                    # reset (and the last) ends a phrase that teaches an entry.
                    check(entries + int(x["resets"]) + 1 >= codes, f"{where}: {entries} entries for {codes} codes")
                check(abs(float(x["bits_per_byte"]) - b / n) < 1e-3, f"{where}: bits per byte")
            if size:
                ratio = stream_bytes / size
                if kind == "random":
                    # Random bytes do not shrink; a literal costs 10 bits.
                    check(1.0 < ratio < 2.0, f"{label}: random data at ratio {ratio:.3f}")
                else:
                    check(0.05 < ratio < 0.8, f"{label}: text at ratio {ratio:.3f}")
            # The chart module draws the CSV: each measure its panel, every
            # piece with a reset marked across all of them.
            r = run([sys.executable, str(pathlib.Path(a.source) / "bench" / "chart.py"), "profile",
                     str(out / "profile.csv"), "--title", name])
            root = svg_root(out / "profile.svg") if check(r.returncode == 0, f"{label}: chart.py {r.stderr}") else None
            if root is not None and rows:
                ns = "{http://www.w3.org/2000/svg}"
                marks = [e for e in root.iter(ns + "line") if e.get("class") == "xmark"]
                check(len(marks) == 5 * sum(1 for x in rows if int(x["resets"]) > 0),
                      f"{label}: {len(marks)} reset marks in the picture")
                check(len(list(root.iter(ns + "polyline"))) == 5, f"{label}: the picture lacks a measure")
    # What is not a regular file fails like a missing file, at once.
    fifo = work / "fifo"
    os.mkfifo(fifo)
    for what in (work / "no-such-file", work, fifo, "/dev/zero"):
        r = run([a.profile, str(what), str(work / "p")], timeout=60)
        check(r.returncode == 1 and r.stderr.decode().count("\n") == 1 and b"cannot read" in r.stderr,
              f"profile of {what}: wanted one line and status 1, got {r.returncode}: {r.stderr}")
    if a.sanitized:
        print("note: the sanitizers reserve more address space than a limit leaves; the memory case is left out")
    else:
        # A file larger than the address space allowed (sparse: nothing on disk).
        big = work / "big.bin"
        with open(big, "wb") as f:
            f.truncate(512 << 20)
        limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (256 << 20, 256 << 20))  # noqa: E731
        r = run([a.profile, str(big), str(work / "p")], preexec_fn=limit, timeout=120)
        check(r.returncode == 1 and r.stderr.decode() == "vorka-profile: out of memory\n",
              f"profile under a memory limit: wanted one line and status 1, got {r.returncode}: {r.stderr[-300:]}")
        big.unlink()
    r = run([a.profile, str(files["text"][0]), str(work / "p"), "/q:1"])
    check(r.returncode == 2 and b"usage" in r.stderr, "profile with an unknown option prints its usage")


def one_line_failure(r, label):
    err = r.stderr.decode()
    check(r.returncode != 0 and "Traceback" not in err and err.strip().count("\n") == 0 and err.strip(),
          f"{label}: wanted one line and a non-zero status, got {r.returncode}: {err}")


ODD_NAME = 'odd, "name" | with\nline.txt'


def output_failures(base, work, label):
    """Outputs that cannot be written fail in one line before anything is measured."""
    a_file = work / "a-file"
    a_file.write_text("x")
    cases = [("--out that is a file", ["--out", str(a_file)]),
             ("--out under a file", ["--out", str(a_file / "sub")]),
             ("--out where no file can be made", ["--out", "/proc"])]
    if os.geteuid() != 0:
        locked = work / "locked"
        locked.mkdir()
        locked.chmod(0o500)
        cases.append(("--out without write permission", ["--out", str(locked)]))
    else:
        print("note: root writes anywhere; the permission case is left out")
    for title, args in cases:
        one_line_failure(run(base + args), f"{label} with {title}")


def check_compare(a, work, files):
    script = pathlib.Path(a.source) / "bench" / "compare.py"
    odd = work / ODD_NAME
    odd.write_bytes(files["text"][0].read_bytes()[:5000])
    names = ("random", "empty", "text", "odd")
    files = dict(files, odd=(odd, "text"))
    inputs = [str(files[n][0]) for n in names]
    csv_path, json_path = work / "rows.csv", work / "rows.json"
    r = run([sys.executable, str(script), "--vorka", a.vorka, "--files", *inputs, "--runs", "1",
             "--out", str(work / "cmp"), "--csv", str(csv_path), "--json", str(json_path)])
    if not check(r.returncode == 0, f"compare.py exited {r.returncode}: {r.stderr.decode()}"):
        return
    with open(csv_path) as f:
        rows = list(csv.DictReader(f))
    with open(json_path) as f:
        check(len(json.load(f)) == len(rows), "compare.py: JSON and CSV hold different rows")
    coders = {x["compressor"] for x in rows}
    check("vorka" in coders, "compare.py: no vorka rows")
    for name in names:
        path = files[name][0]
        mine = [x for x in rows if x["input"] == path.name]
        check(len(mine) == len(coders), f"compare.py: {name} lacks a compressor")
        v = [x for x in mine if x["compressor"] == "vorka"]
        if not v:
            continue
        truth = vorka_pack(a.vorka, path, work / "packed")
        size = path.stat().st_size
        if truth and size:
            packed = truth[0] + 80 + len(path.name.encode())
            check(abs(float(v[0]["packed_per_plain"]) - packed / size) < 1e-5,
                  f"compare.py: vorka's ratio for {name} {v[0]['packed_per_plain']}, packed file says {packed / size}")
        for x in mine:
            ratio = float(x["packed_per_plain"])
            check(ratio == 0 if not size else 0 < ratio < 2, f"compare.py: {x['compressor']} on {name}: {ratio}")
            check(float(x["pack_mb_s"]) >= 0 and float(x["peak_mib"]) > 0, f"compare.py: {x} figures")
    if shutil.which("compress"):
        # compress cannot shrink random bytes: it exits 2 and writes them all the same.
        c = [x for x in rows if x["compressor"] == "compress -b16" and x["input"] == "random.bin"]
        check(len(c) == 1 and float(c[0]["packed_per_plain"]) > 1.0, "compare.py: compress on random bytes")
    else:
        print("note: compress (ncompress) is not installed; its status 2 is not exercised")
    # Each peer is a ladder of levels: a higher gzip level never packs larger.
    gzip = [int(x["packed_bytes"]) for x in rows if x["family"] == "gzip" and x["input"] == "words.txt"]
    check(not shutil.which("gzip") or (len(gzip) == 3 and gzip == sorted(gzip, reverse=True)),
          f"compare.py: gzip's quick levels packed words.txt to {gzip}")
    hashed = {x["input"]: x["packed_bytes"] for x in rows if x["compressor"] == "vorka (hash)"}
    check(all(hashed[x["input"]] == x["packed_bytes"] for x in rows if x["compressor"] == "vorka" and hashed),
          "compare.py: the hash index packed to other sizes than the trees")
    # One table line per row, the odd name escaped within its cell.
    table = (work / "cmp" / "results.md").read_text().splitlines()
    check(len(table) == 2 + len(rows), f"compare.py: results.md has {len(table)} lines for {len(rows)} rows")
    check(all(line.count(" | ") == 8 for line in table[2:]),
          "compare.py: a name breaks the columns of results.md")
    check(any('odd, "name" \\| with\\nline.txt' in line for line in table), "compare.py: the odd name in results.md")
    check(svg_root(work / "cmp" / "results.svg") is not None, "compare.py: results.svg")
    report = (work / "cmp" / "report.html").read_text()
    check(report.count('<section class="input"') == len(names) and report.count('class="chart"') == 2 * len(names),
          "compare.py: report.html lacks an input's charts")
    base = [sys.executable, str(script), "--vorka", a.vorka, "--runs", "1", "--files", inputs[0]]
    output_failures(base, work, "compare.py")
    one_line_failure(run(base + ["--out", str(work / "cmp2"), "--csv", str(work)]), "compare.py with --csv a folder")
    base = [sys.executable, str(script), "--vorka", a.vorka, "--runs", "1", "--out", str(work / "cmp2")]
    one_line_failure(run(base + ["--corpus", str(work / "no-corpus")]), "compare.py without a corpus")
    one_line_failure(run(base + ["--vorka-hash", str(work / "no-hash"), "--files", inputs[0]]),
                     "compare.py without the hash build")
    one_line_failure(run([sys.executable, str(script), "--vorka", str(work / "no-vorka"), "--files", inputs[0]]),
                     "compare.py without the program")


def check_sweep(a, work, files):
    script = pathlib.Path(a.source) / "bench" / "sweep.py"
    small = work / "random-small.bin"
    small.write_bytes(files["random"][0].read_bytes()[:20000])
    odd = work / ODD_NAME
    odd.write_bytes(files["text"][0].read_bytes()[:5000])
    inputs = [small, files["empty"][0], files["text"][0], odd]
    out = work / "sweep"
    # Under the sanitizers a dictionary of the largest size costs gigabytes
    # of shadow memory and a leak scan of all of it per process.
    largest = 1000000 if a.sanitized else MAX_DICTIONARY
    r = run([sys.executable, str(script), "--vorka", a.vorka, "--out", str(out), "--runs", "1",
             "--largest", str(largest), *map(str, inputs)])
    if not check(r.returncode == 0, f"sweep.py exited {r.returncode}: {r.stderr.decode()}"):
        return
    with open(out / "sweep.csv") as f:
        rows = list(csv.DictReader(f))
    for path in inputs:
        mine = [x for x in rows if x["file"] == path.name and x["build"] == "tree"]
        # A program that picks its index at run time is swept with the hash
        # index too, which must pack every size to the same bytes.
        hashed = {x["dictionary"]: x["packed_bytes"] for x in rows if x["file"] == path.name and x["build"] == "hash"}
        check(not hashed or hashed == {x["dictionary"]: x["packed_bytes"] for x in mine},
              f"sweep {path.name}: the hash index packs to other sizes")
        sizes = [int(x["dictionary"]) for x in mine]
        size = path.stat().st_size
        label = f"sweep {path.name}"
        check(sizes == sorted(set(sizes)) and sizes[0] == 500 and sizes[-1] == largest,
              f"{label}: sizes {sizes}")
        check(len(sizes) <= 9 and (size < 5000 or len(sizes) >= 6), f"{label}: {len(sizes)} sizes")
        for x in mine:
            packed, ratio = int(x["packed_bytes"]), float(x["ratio"])
            check(int(x["bytes"]) == size and abs(ratio - (packed / size if size else 0)) < 1e-5,
                  f"{label}: ratio {ratio} for {packed} of {size}")
            check(packed >= 80 + len(path.name.encode()), f"{label}: {packed} bytes is less than a header")
            check(float(x["pack_peak_mib"]) > 0 and float(x["unpack_peak_mib"]) > 0, f"{label}: peak memory")
        # Two sizes checked against the program itself.
        for x in (mine[0], mine[-1]):
            truth = vorka_pack(a.vorka, path, work / "packed", (f"/l:{x['dictionary']}",))
            if truth:
                check(truth[0] + 80 + len(path.name.encode()) == int(x["packed_bytes"]),
                      f"{label}: /l:{x['dictionary']} packed size differs from vorka c")
        if size:
            # No dictionary beyond what the file can use packs it differently.
            check(mine[-1]["packed_bytes"] == mine[-2]["packed_bytes"], f"{label}: the two largest sizes differ")
    check(svg_root(out / "sweep.svg") is not None, "sweep.py: sweep.svg")
    check({x["file"] for x in rows} == {p.name for p in inputs}, "sweep.py: a name in sweep.csv differs from its file's")
    output_failures([sys.executable, str(script), "--vorka", a.vorka, "--runs", "1", str(small)], work, "sweep.py")
    one_line_failure(run([sys.executable, str(script), "--vorka", a.vorka, "--out", str(out),
                          str(work / "missing")]), "sweep.py on a missing file")


def check_report(a, work, files):
    """compare.py's report of a small run, and a sweep joined to it, opened
    from disk in headless Chromium: it loads with no console message and no
    request but its own, every input has its two charts, and every point
    carries its values in its <title>. The screenshot stays for a person."""
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        check(False, "python3-selenium is missing (bash scripts/deps.sh chromium chromium-driver python3-selenium)")
        return
    bench = pathlib.Path(a.source) / "bench"
    out = work / "report"
    inputs = [files["text"][0], files["random"][0]]
    r = run([sys.executable, str(bench / "compare.py"), "--vorka", a.vorka, "--files", *map(str, inputs),
             "--runs", "1", "--levels", "quick", "--out", str(out)])
    if not check(r.returncode == 0, f"compare.py exited {r.returncode}: {r.stderr.decode()}"):
        return
    r = run([sys.executable, str(bench / "sweep.py"), "--vorka", a.vorka, "--runs", "1", "--largest", "1000000",
             "--out", str(out), str(inputs[0])])
    if not check(r.returncode == 0, f"sweep.py exited {r.returncode}: {r.stderr.decode()}"):
        return
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1320,1100", "--hide-scrollbars"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                              options=options)
    try:
        page = (out / "report.html").resolve().as_uri()
        driver.get(page)
        sections = driver.execute_script("""
            return [...document.querySelectorAll('section.input')].map(s => ({
              name: s.dataset.input,
              charts: [...s.querySelectorAll('.chart')].map(c => c.dataset.chart),
              points: [...s.querySelectorAll('.chart svg .point')].map(p => {
                const t = p.querySelector('title'); return t ? t.textContent : null; }),
              box: s.querySelector('.chart svg').getBoundingClientRect().width}));""")
        check(sorted(x["name"] for x in sections) == sorted(p.name for p in inputs),
              f"report: sections {[x['name'] for x in sections]}")
        for x in sections:
            label = f"report, {x['name']}"
            check(x["charts"] == ["pack", "unpack"] and x["box"] > 300, f"{label}: charts {x['charts']}, {x['box']} px")
            check(len(x["points"]) >= 2 * 3, f"{label}: {len(x['points'])} points")
            bare = [t for t in x["points"] if t is None or not re.search(
                r"^.+: packed/plain \d\.\d{4}, (un)?pack \d+\.\d MB/s, \d+ packed bytes$", t)]
            check(not bare, f"{label}: points without their values: {bare[:3]}")
            if x["name"] == inputs[0].name:
                check(any(") /l:" in t for t in x["points"] if t), f"{label}: no sweep points")
        requests = set()
        for entry in driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                requests.add(message["params"]["request"]["url"])
        check(requests == {page}, f"report: requests beside the page: {sorted(requests - {page})}")
        console = driver.get_log("browser")
        check(not console, f"report: console messages {console}")
        shot = pathlib.Path(a.screenshot).resolve()
        shot.parent.mkdir(parents=True, exist_ok=True)
        check(driver.save_screenshot(str(shot)), f"report: no screenshot at {shot}")
        print(f"screenshot of the report: {shot}")
    finally:
        driver.quit()


def check_readme(a, work, files):
    """The README's sample output is what `vorka cd /go` prints for the sample
    file, run from a folder shown as /home/me/vorka/build; times and speeds
    are matched by pattern, every other byte exactly."""
    readme = (pathlib.Path(a.source) / "README.md").read_text()
    m = re.search(r"`vorka cd /go` on the sample file.*?\n```text\n(.*?)\n```", readme, re.S)
    if not check(m is not None, "README.md holds no sample output block"):
        return
    shown = m.group(1)
    folder = work / "build"
    folder.mkdir()
    exe = folder / "vorka"
    shutil.copy2(a.vorka, exe)
    shutil.copy2(pathlib.Path(a.vorka).parent / "test.txt", folder / "test.txt")
    r = run([str(exe), "cd", "/go"], cwd=work)
    printed = r.stdout.decode().replace(str(folder), "/home/me/vorka/build")
    timing = re.compile(r"(  Время на 1 (?:упаковку|распаковку), мс: )[0-9]+\.[0-9]{2}(; Скорость, байт/с: )"
                        r" ?[0-9]+(\.)")
    normal = lambda s: timing.sub(r"\1T\2S\3", s)  # noqa: E731
    got, want = normal(printed).split("\n"), normal(shown).split("\n")
    check(len(timing.findall(printed)) == 2, "the program printed no two timing lines")
    for i in range(max(len(got), len(want))):
        g = got[i] if i < len(got) else "<none>"
        w = want[i] if i < len(want) else "<none>"
        check(g == w, f"README sample line {i + 1}: README shows {w!r}, the program prints {g!r}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("check", choices=("profile", "compare", "sweep", "readme", "report"))
    ap.add_argument("--vorka", required=True)
    ap.add_argument("--profile")
    ap.add_argument("--sanitized", action="store_true", help="the programs are built with sanitizers")
    ap.add_argument("--screenshot", default="report-check/report.png", help="where the report check saves its picture")
    ap.add_argument("--source", default=str(pathlib.Path(__file__).resolve().parents[2]))
    ap.add_argument("--corpus", default=str(pathlib.Path(__file__).resolve().parents[3] / "shared" / "corpus"))
    a = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="vorka-tools-") as tmp:
        work = pathlib.Path(tmp)
        files = make_inputs(work, a.corpus)
        {"profile": check_profile, "compare": check_compare, "sweep": check_sweep, "readme": check_readme,
         "report": check_report}[a.check](a, work, files)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed")
        sys.exit(1)
    print(f"{a.check}: all checks passed")


if __name__ == "__main__":
    main()
