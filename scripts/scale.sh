#!/usr/bin/env bash
# The scale run: packs and unpacks a generated file of more than 1 GiB with the
# default settings and with the largest dictionary (/l:268435326), checks the
# round trip with cmp, and reports the time and the peak memory of every run
# (ru_maxrss from getrusage of the finished child). Peak memory must stay
# within what the settings allow: 14 bytes per dictionary node (nodes are
# touched only as they are created), the two file buffers, and the memory of
# the program itself, measured on an empty file. Takes several minutes; it is
# not part of the default tests.
#
#   scripts/scale.sh [size in MiB, default 1100]
#
# Environment: SCALE_BUILD (default build-hard) is the build folder, configured
# and built here as Release when it has no program yet; SCALE_DIR (default
# /tmp) is where the generated, packed and restored files go (3 x size).
# Exit status: 0 when every round trip is exact and within its memory bound.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib="${1:-1100}"
build="${SCALE_BUILD:-build-hard}"
if [ "$size_mib" -ge 2048 ]; then
  echo "scale.sh: the format holds files below 2 GiB" >&2
  exit 2
fi
if [ ! -x "$build/vorka" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null 2>&1
fi
cmake --build "$build" -j2 --target vorka >/dev/null 2>&1
vorka="$(pwd)/$build/vorka"

work="$(mktemp -d "${SCALE_DIR:-/tmp}/vorka-scale-XXXXXX")"
trap 'rm -rf "$work"' EXIT

python3 - "$vorka" "$work" "$size_mib" <<'EOF'
import os, random, resource, subprocess, sys, time

vorka, work, size_mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
src = os.path.join(work, "big.txt")

# Text-like bytes of mixed redundancy, seeded: fresh 1 MiB chunks drawn from
# a skewed alphabet (a few bits of entropy per byte), and repeats of earlier
# chunks with a few bytes changed, so that long phrases grow too.
rng = random.Random(20261209)
alphabet = b"eeeeeeeeeeeetttttttttaaaaaaaaooooooooiiiiiiinnnnnnnsssssshhhhhhrrrrrr" \
           b"ddddllllcccuuummmwwwffggyyppbbvk        \n\n,.;"
table = bytes(alphabet[i % len(alphabet)] for i in range(256))
chunk = 1 << 20
kept = []
t0 = time.monotonic()
with open(src, "wb") as f:
    for i in range(size_mib):
        if kept and rng.random() < 0.4:
            block = bytearray(rng.choice(kept))
            for _ in range(64):
                block[rng.randrange(chunk)] = rng.randrange(256)
            block = bytes(block)
        else:
            block = rng.randbytes(chunk).translate(table)
            if len(kept) < 64:
                kept.append(block)
        f.write(block)
size = os.path.getsize(src)
print(f"generated {size} bytes ({size / 2**30:.3f} GiB) in {time.monotonic() - t0:.1f} s")

def run(args):
    """Runs the program in a fresh child; wall time and that child's peak RSS."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = time.monotonic()
    # A runner process per measurement: RUSAGE_CHILDREN keeps the largest
    # peak of all children waited for, so each run gets a parent of its own.
    out = subprocess.run(
        [sys.executable, "-c",
         "import resource,subprocess,sys;"
         "p=subprocess.run(sys.argv[1:],stdin=subprocess.DEVNULL,stdout=subprocess.PIPE);"
         "sys.stdout.buffer.write(p.stdout);"
         "print('RSS_KB', resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)"]
        + [vorka] + args + ["/go"],
        stdout=subprocess.PIPE, env=dict(os.environ, LC_ALL="C.UTF-8"), check=True)
    elapsed = time.monotonic() - t
    text = out.stdout.decode("utf-8", "replace")
    rss_kb = int(text.rsplit("RSS_KB", 1)[1])
    if "ОШИБКА" in text:
        print(text)
        raise SystemExit("scale.sh: the program reported an error")
    return elapsed, rss_kb * 1024

empty = os.path.join(work, "empty")
open(empty, "wb").close()
failed = False
print(f"{'settings':<14} {'step':<7} {'time s':>8} {'MB/s':>8} {'peak RSS MiB':>13} {'bound MiB':>10}")
for label, opts, dic in (("default", [], 100000), ("/l:268435326", ["/l:268435326"], 268435326)):
    buf = 100000
    packed = os.path.join(work, "big.lz")
    restored = os.path.join(work, "big.out")
    _, base = run(["c", "/0:" + empty, "/1:" + packed] + opts)
    bound = base + 14 * dic + 2 * buf
    for step, args in (("pack", ["c", "/0:" + src, "/1:" + packed]),
                       ("unpack", ["d", "/0:" + packed, "/2:" + restored])):
        elapsed, rss = run(args + opts)
        ok = rss <= bound
        failed |= not ok
        print(f"{label:<14} {step:<7} {elapsed:8.1f} {size / elapsed / 1e6:8.1f} "
              f"{rss / 2**20:13.1f} {bound / 2**20:10.1f}{'' if ok else '  OVER'}")
    psize = os.path.getsize(packed)
    same = subprocess.run(["cmp", "-s", src, restored]).returncode == 0
    failed |= not same
    print(f"{label:<14} packed {psize} bytes (ratio {psize / size:.4f}), "
          f"round trip {'exact' if same else 'DIFFERS'}; program alone {base / 2**20:.1f} MiB")
    os.remove(restored)
sys.exit(1 if failed else 0)
EOF
