#!/usr/bin/env python3
"""The charts of the bench's tools, written as plain SVG text.

One small writer serves compare.py, sweep.py and vorka-profile's CSV: panels
that share a horizontal axis (linear or log), each with its own vertical axis,
lines and marked points, a legend beside the plot instead of labels on it, and
every point's exact values in its <title> so that hovering shows them.

    bench/chart.py profile DIR/profile.csv [--out DIR/profile.svg] [--title NAME]

draws the CSV that vorka-profile writes.
"""
import argparse
import csv
import html
import math
import os
import sys
from dataclasses import dataclass, field

# Fixed colours per compressor family, so that a family keeps its colour
# from chart to chart; anything else takes the spare ones in turn.
COLOURS = {
    "vorka": "#c0392b", "vorka (hash)": "#7d3c98", "compress": "#444444", "gzip": "#2471a3",
    "zstd": "#229954", "xz": "#b7950b", "lz4": "#ca6f1e", "bzip2": "#17a589",
}
SPARE = ["#2e86c1", "#a04000", "#1e8449", "#6c3483", "#b03a2e", "#117a65", "#7f8c8d", "#d4ac0d"]


def esc(text):
    return html.escape(str(text), quote=True)


@dataclass
class Series:
    """One line (or one set of points) of a panel. points: (x, y, tip); the
    tip becomes the point's <title>."""
    name: str
    points: list
    colour: str = "#444444"
    marker: str = "circle"  # circle, square, diamond, triangle, star or none
    line: bool = True
    dash: str = ""
    size: float = 3.5
    stroke: float = 1.5


@dataclass
class Panel:
    label: str
    series: list
    log: bool = False
    zero: bool = False  # the axis starts at 0 (counts), not at the data
    better: str = ""  # "lower right", "upper right", ...: an arrow to that corner
    marks: list = field(default_factory=list)  # (y, label): horizontal rules


def nice_step(span, count):
    raw = span / max(count, 1)
    power = 10 ** math.floor(math.log10(raw))
    for m in (1, 2, 2.5, 5, 10):
        if m * power >= raw:
            return m * power
    return 10 * power


def linear_axis(lo, hi, zero=False, count=5):
    """(low, high, ticks): round ends that hold the data."""
    if zero:
        lo = min(0.0, lo)
    if hi <= lo:
        hi = lo + (abs(lo) or 1.0)
    step = nice_step(hi - lo, count)
    low = math.floor(lo / step + 1e-9) * step
    high = math.ceil(hi / step - 1e-9) * step
    ticks = []
    t = low
    while t <= high + step / 2:
        ticks.append(round(t, 12))
        t += step
    return low, high, ticks


def log_axis(lo, hi):
    """(low, high, ticks) on whole decades; 2 and 5 between them when there
    are few decades."""
    lo = max(lo, 1e-9)
    hi = max(hi, lo)
    a, b = math.floor(math.log10(lo)), math.ceil(math.log10(hi))
    if b == a:
        b += 1
    steps = (1, 2, 5) if b - a <= 3 else (1,)
    ticks = [m * 10 ** e for e in range(a, b + 1) for m in steps if m * 10 ** e <= 10 ** b]
    return 10 ** a, 10 ** b, ticks


def tick_text(v):
    """Short labels: 0.25, 3, 40, 1k, 100k, 2M."""
    if v == 0:
        return "0"
    for unit, div in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if abs(v) >= div:
            return f"{v / div:g}{unit}"
    return f"{v:.4g}"


def marker(kind, x, y, size, colour, tip):
    title = f"<title>{esc(tip)}</title>"
    common = f'class="point" fill="{colour}" stroke="white" stroke-width="0.8"'
    if kind == "square":
        return f'<rect {common} x="{x - size:.1f}" y="{y - size:.1f}" width="{2 * size:.1f}" height="{2 * size:.1f}">{title}</rect>'
    if kind in ("diamond", "triangle", "star"):
        if kind == "diamond":
            pts = [(0, -1.3), (1.3, 0), (0, 1.3), (-1.3, 0)]
        elif kind == "triangle":
            pts = [(0, -1.3), (1.2, 0.9), (-1.2, 0.9)]
        else:
            pts = [(math.sin(i * math.pi / 5) * (1.6 if i % 2 == 0 else 0.7),
                    -math.cos(i * math.pi / 5) * (1.6 if i % 2 == 0 else 0.7)) for i in range(10)]
        text = " ".join(f"{x + dx * size:.1f},{y + dy * size:.1f}" for dx, dy in pts)
        return f'<polygon {common} points="{text}">{title}</polygon>'
    return f'<circle {common} cx="{x:.1f}" cy="{y:.1f}" r="{size:.1f}">{title}</circle>'


def svg(title, panels, xlabel, xlog=False, xmarks=(), note="", width=720, panel_height=260, legend_width=190):
    """Panels stacked over one horizontal axis. xmarks: (x, label, colour)
    vertical rules across every panel (dictionary resets, a default)."""
    left, right_gap, top, gap, bottom = 64, 16, 44 if note else 30, 46, 44
    plot_w = width - left - legend_width - right_gap
    xs = [p[0] for pan in panels for s in pan.series for p in s.points] + [m[0] for m in xmarks]
    if xlog:
        xs = [x for x in xs if x > 0]
    if xs:
        x_lo, x_hi, x_ticks = log_axis(min(xs), max(xs)) if xlog else linear_axis(min(xs), max(xs), zero=True)
    else:
        x_lo, x_hi, x_ticks = (1.0, 10.0, [1.0, 10.0]) if xlog else (0.0, 1.0, [0.0, 1.0])
    if xs and not xlog and max(xs) > x_lo:
        # A linear axis (offsets along a file) ends where the data ends.
        x_hi = max(xs)
        x_ticks = [t for t in x_ticks if t <= x_hi]

    def fx(x):
        if xlog:
            x = max(x, x_lo)
            return left + plot_w * (math.log10(x) - math.log10(x_lo)) / (math.log10(x_hi) - math.log10(x_lo))
        return left + plot_w * (x - x_lo) / (x_hi - x_lo)

    height = top + len(panels) * (panel_height + gap) - gap + bottom
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height:.0f}" '
           f'viewBox="0 0 {width} {height:.0f}" font-family="sans-serif" font-size="11">',
           '<rect width="100%" height="100%" fill="white"/>',
           f'<text x="8" y="17" font-size="13" font-weight="bold">{esc(title)}</text>']
    if note:
        out.append(f'<text x="8" y="33" fill="#555">{esc(note)}</text>')
    for i, pan in enumerate(panels):
        y0 = top + i * (panel_height + gap) + 14
        ph = panel_height - 14
        ys = [p[1] for s in pan.series for p in s.points] + [m[0] for m in pan.marks]
        if pan.log:
            ys = [y for y in ys if y > 0]
            y_lo, y_hi, y_ticks = log_axis(min(ys), max(ys)) if ys else (1.0, 10.0, [1.0, 10.0])
        else:
            y_lo, y_hi, y_ticks = linear_axis(min(ys), max(ys), pan.zero) if ys else (0.0, 1.0, [0.0, 1.0])

        def fy(y, y_lo=y_lo, y_hi=y_hi, log=pan.log, y0=y0, ph=ph):
            if log:
                y = max(y, y_lo)
                return y0 + ph * (1 - (math.log10(y) - math.log10(y_lo)) / (math.log10(y_hi) - math.log10(y_lo)))
            return y0 + ph * (1 - (y - y_lo) / (y_hi - y_lo))

        out.append('<g class="panel">')
        # The axis title stands above the plot, clear of the top tick.
        out.append(f'<text x="{left}" y="{y0 - 6}" font-weight="bold">{esc(pan.label)}</text>')
        for t in y_ticks:
            y = fy(t)
            out.append(f'<line x1="{left}" x2="{left + plot_w}" y1="{y:.1f}" y2="{y:.1f}" stroke="#e5e5e5"/>')
            out.append(f'<text x="{left - 5}" y="{y + 4:.1f}" text-anchor="end">{tick_text(t)}</text>')
        for t in x_ticks:
            x = fx(t)
            out.append(f'<line x1="{x:.1f}" x2="{x:.1f}" y1="{y0}" y2="{y0 + ph}" stroke="#e5e5e5"/>')
            out.append(f'<text x="{x:.1f}" y="{y0 + ph + 14}" text-anchor="middle">{tick_text(t)}</text>')
        out.append(f'<rect x="{left}" y="{y0}" width="{plot_w}" height="{ph}" fill="none" stroke="#888"/>')
        for y, label in pan.marks:
            out.append(f'<line x1="{left}" x2="{left + plot_w}" y1="{fy(y):.1f}" y2="{fy(y):.1f}" '
                       f'stroke="#888" stroke-dasharray="2 3"/>')
            out.append(f'<text x="{left + plot_w - 4}" y="{fy(y) - 4:.1f}" text-anchor="end" fill="#666">'
                       f'{esc(label)}</text>')
        for x, label, colour in xmarks:
            out.append(f'<line class="xmark" x1="{fx(x):.1f}" x2="{fx(x):.1f}" y1="{y0}" y2="{y0 + ph}" '
                       f'stroke="{colour}" stroke-opacity="0.7"><title>{esc(label)}</title></line>')
        if pan.better:
            out.append(better_arrow(pan.better, left, y0, plot_w, ph))
        for s in pan.series:
            pts = [(fx(x), fy(y), tip) for x, y, tip in s.points if not (xlog and x <= 0) and not (pan.log and y <= 0)]
            if s.line and len(pts) > 1:
                dash = f' stroke-dasharray="{s.dash}"' if s.dash else ""
                line = " ".join(f"{x:.1f},{y:.1f}" for x, y, _ in pts)
                out.append(f'<polyline fill="none" stroke="{s.colour}" stroke-width="{s.stroke}"{dash} points="{line}"/>')
            if s.marker != "none":
                out.extend(marker(s.marker, x, y, s.size, s.colour, tip) for x, y, tip in pts)
        out.append("</g>")
    bottom_y = top + len(panels) * (panel_height + gap) - gap
    out.append(f'<text x="{left + plot_w / 2:.0f}" y="{bottom_y + 30}" text-anchor="middle">{esc(xlabel)}</text>')
    # One legend for all panels, each name once.
    seen = {}
    for pan in panels:
        for s in pan.series:
            seen.setdefault(s.name, s)
    ly = top + 14
    lx = left + plot_w + 14
    for s in seen.values():
        dash = f' stroke-dasharray="{s.dash}"' if s.dash else ""
        if s.line:
            out.append(f'<line x1="{lx}" x2="{lx + 24}" y1="{ly}" y2="{ly}" stroke="{s.colour}" '
                       f'stroke-width="{s.stroke}"{dash}/>')
        if s.marker != "none":
            out.append(marker(s.marker, lx + 12, ly, s.size, s.colour, s.name).replace('class="point"', 'class="key"'))
        out.append(f'<text x="{lx + 30}" y="{ly + 4}">{esc(s.name)}</text>')
        ly += 17
    legend_marks = {}
    for x, label, colour in xmarks:
        legend_marks.setdefault(colour, label.split(": ")[0])
    for colour, label in legend_marks.items():
        out.append(f'<line x1="{lx + 12}" x2="{lx + 12}" y1="{ly - 7}" y2="{ly + 7}" stroke="{colour}"/>')
        out.append(f'<text x="{lx + 30}" y="{ly + 4}">{esc(label)}</text>')
        ly += 17
    out.append("</svg>")
    return "\n".join(out) + "\n"


def better_arrow(corner, left, y0, w, h):
    """A short arrow toward the corner where better results lie, and the word."""
    right = "right" in corner
    low = "lower" in corner
    x1 = left + (w - 18 if right else 18)
    y1 = y0 + (h - 18 if low else 18)
    dx = -1 if right else 1
    dy = -1 if low else 1
    x0, yy0 = x1 + 46 * dx, y1 + 30 * dy
    head = f"{x1:.0f},{y1:.0f} {x1 + 9 * dx:.0f},{y1 + 1 * dy:.0f} {x1 + 3 * dx:.0f},{y1 + 8 * dy:.0f}"
    anchor = "end" if right else "start"
    return (f'<g class="better" fill="#1e8449" stroke="#1e8449"><line x1="{x0:.0f}" y1="{yy0:.0f}" x2="{x1:.0f}" '
            f'y2="{y1:.0f}" stroke-width="2"/><polygon points="{head}"/>'
            f'<text x="{x0 + 4 * dx:.0f}" y="{yy0 + (14 if not low else -4) * 1:.0f}" text-anchor="{anchor}" '
            f'stroke="none" font-weight="bold">better</text></g>')


def colour_for(name, used):
    if name in COLOURS:
        return COLOURS[name]
    if name not in used:
        used[name] = SPARE[len(used) % len(SPARE)]
    return used[name]


def side_by_side(svgs):
    """Several SVG documents as one, left to right."""
    parts, x, height = [], 0, 0
    for text in svgs:
        w = float(text.split('width="', 1)[1].split('"', 1)[0])
        h = float(text.split('height="', 1)[1].split('"', 1)[0])
        parts.append(text.replace("<svg ", f'<svg x="{x:.0f}" ', 1))
        x, height = x + w, max(height, h)
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{x:.0f}" height="{height:.0f}">\n'
            + "".join(parts) + "</svg>\n")


# compare.py's rows (and sweep.py's, for the same file) as ratio against speed.
def point_tip(name, ratio, speed, what, packed):
    return f"{name}: packed/plain {ratio:.4f}, {what} {speed:.1f} MB/s, {packed} packed bytes"


def speed_chart(rows, sweep, what, title, width=620, note=""):
    """One chart: packed/plain against pack or unpack speed (log), each peer
    the line of its levels, vorka's indexes as marked points, its /l: sweep
    as dashed lines."""
    key = "pack" if what == "pack" else "unpack"
    used, families = {}, {}
    for r in rows:
        families.setdefault(r["family"], []).append(r)
    series = []
    for fam, members in families.items():
        pts = [(r[key], r["ratio"], point_tip(r["coder"], r["ratio"], r[key], what, r["packed_bytes"]))
               for r in members]
        if fam.startswith("vorka"):
            hashed = "hash" in fam
            series.append(Series(fam, pts, colour_for("vorka (hash)" if hashed else "vorka", used),
                                 marker="diamond" if hashed else "star", line=False, size=6 if hashed else 5.5))
        else:
            levels = [r["level"] for r in members]
            label = f"{fam} {' '.join(levels)}" if len(levels) <= 4 else f"{fam} {levels[0]} to {levels[-1]}"
            series.append(Series(label, pts, colour_for(fam, used), marker="circle", size=3))
    builds = {}
    for r in sweep:
        builds.setdefault(r["build"], []).append(r)
    for build, members in builds.items():
        members = sorted(members, key=lambda r: r["dictionary"])
        skey = "pack_mb_s" if what == "pack" else "unpack_mb_s"
        pts = [(r[skey], r["ratio"],
                point_tip(f"vorka ({build}) /l:{r['dictionary']}" + (" (default)" if r["dictionary"] == 100000 else ""),
                          r["ratio"], r[skey], what, r["packed_bytes"])) for r in members]
        series.append(Series(f"vorka /l: sweep ({build})", pts, "#e6a0a0" if build == "tree" else "#c7a5d6",
                             marker="triangle", dash="2 3" if build == "hash" else "6 3", size=3))
    # The sweep goes underneath: the marked points of the runs stay on top.
    series.sort(key=lambda s: 0 if "sweep" in s.name else 2 if s.name.startswith("vorka") else 1)
    if not any(r[key] > 0 for r in rows) and not sweep:
        title += " (no speed to draw: the input is empty)"
    return svg(title, [Panel("packed/plain (lower is better)", series, better="lower right")],
               f"{what} speed, MB/s (log scale; whole processes, median)", xlog=True, width=width, panel_height=330,
               legend_width=170, note=note)


def figures_table(rows, sweep):
    head = ("<tr><th>compressor</th><th>packed/plain</th><th>packed bytes</th><th>pack MB/s</th>"
            "<th>unpack MB/s</th><th>peak MiB</th></tr>")
    body = []
    for r in rows:
        body.append(f"<tr><td>{esc(r['coder'])}</td><td>{r['ratio']:.4f}</td><td>{r['packed_bytes']}</td>"
                    f"<td>{r['pack']:.1f}</td><td>{r['unpack']:.1f}</td><td>{r['rss']:.1f}</td></tr>")
    for r in sorted(sweep, key=lambda r: (r["build"], r["dictionary"])):
        body.append(f"<tr class=\"sweep\"><td>vorka ({esc(r['build'])}) /l:{r['dictionary']}</td>"
                    f"<td>{r['ratio']:.4f}</td><td>{r['packed_bytes']}</td><td>{r['pack_mb_s']:.1f}</td>"
                    f"<td>{r['unpack_mb_s']:.1f}</td><td>{r['pack_peak_mib']:.1f}</td></tr>")
    return f"<table>\n<thead>{head}</thead>\n<tbody>\n" + "\n".join(body) + "\n</tbody>\n</table>"


STYLE = """
body { font-family: sans-serif; margin: 1.2em; color: #222; max-width: 1300px; }
h1 { font-size: 1.35em; margin: 0 0 .4em; }
h2 { font-size: 1.1em; margin: 1.6em 0 .3em; border-top: 1px solid #ccc; padding-top: .8em; }
dl { display: grid; grid-template-columns: max-content auto; gap: .15em 1em; margin: 0 0 1em; font-size: .92em; }
dt { color: #555; } dd { margin: 0; font-family: monospace; word-break: break-all; }
.charts { display: flex; flex-wrap: wrap; gap: 8px; }
table { border-collapse: collapse; font-size: .85em; margin-top: .4em; }
th, td { border: 1px solid #ddd; padding: 2px 8px; text-align: right; }
th:first-child, td:first-child { text-align: left; }
tr.sweep td { color: #555; }
p.note { color: #555; font-size: .9em; max-width: 62em; }
"""


def report_html(rows, sweep, runs):
    """The whole page. rows: compare.py's, sweep: sweep.py's rows, runs:
    [(tool, meta)] with meta holding machine, date, program, command."""
    inputs = []
    for r in rows:
        if r["input"] not in inputs:
            inputs.append(r["input"])
    for r in sweep:
        if r["file"] not in inputs:
            inputs.append(r["file"])
    out = ["<!DOCTYPE html>", '<html lang="en">', "<head>", '<meta charset="utf-8">',
           "<title>vorka bench report</title>", f"<style>{STYLE}</style>", "</head>", "<body>",
           "<h1>vorka against its peers: packed/plain ratio against speed</h1>"]
    for tool, meta in runs:
        out.append(f"<dl class=\"run\"><dt>run</dt><dd>{esc(tool)}</dd>")
        for k in ("machine", "date", "program", "command"):
            out.append(f"<dt>{k}</dt><dd>{esc(meta.get(k, '?'))}</dd>")
        out.append("</dl>")
    out.append('<p class="note">Each peer is drawn as the line of the levels measured; vorka\'s tree and hash '
               "indexes are the marked points, its dictionary-size sweep (when sweep.py wrote into the same folder) "
               "the dashed line. Speeds are the plain bytes per second of whole processes (median of the timed "
               "runs), on a log scale. Hover over a point for its exact values.</p>")
    out.append('<nav><ul>' + "".join(f'<li><a href="#input-{i}">{esc(n)}</a></li>' for i, n in enumerate(inputs))
               + "</ul></nav>")
    for i, name in enumerate(inputs):
        mine = [r for r in rows if r["input"] == name]
        swept = [r for r in sweep if r["file"] == name]
        size = mine[0]["size"] if mine else swept[0]["bytes"]
        out.append(f'<section class="input" id="input-{i}" data-input="{esc(name)}">')
        out.append(f"<h2>{esc(name)} ({size} bytes)</h2>")
        out.append('<div class="charts">')
        for what in ("pack", "unpack"):
            out.append(f'<div class="chart" data-chart="{what}">'
                       + speed_chart(mine, swept, what, f"{name}: {what}ing") + "</div>")
        out.append("</div>")
        out.append(figures_table(mine, swept))
        out.append("</section>")
    out += ["</body>", "</html>"]
    return "\n".join(out) + "\n"


# vorka-profile's CSV, drawn along the file.
def profile_svg(rows, title):
    def at(r):
        return int(r["offset"]) + int(r["bytes"]) / 2

    def series(name, key, colour, scale=1.0, dash=""):
        return Series(name, [(at(r), float(r[key]) * scale,
                              f"{name} at byte {r['offset']}: {r[key]}") for r in rows],
                      colour, marker="none", dash=dash)
    panels = [
        Panel("code bits per input byte", [series("bits per input byte", "bits_per_byte", "#2471a3")], zero=True),
        Panel("codes sent per 64 KiB piece", [series("codes sent", "codes", "#229954")], zero=True),
        Panel("dictionary entries created per piece", [series("new entries", "new_entries", "#b7950b")], zero=True),
        Panel("code width, bits", [series("code width", "width", "#7d3c98")], zero=True),
        Panel("longest phrase so far", [series("longest phrase", "longest", "#ca6f1e")], zero=True),
    ]
    marks = [(at(r), f"dictionary reset: piece at byte {r['offset']}, {r['resets']} reset(s)", "#c0392b")
             for r in rows if int(r["resets"]) > 0]
    if not rows:
        panels = [Panel("empty input: no code stream", [])]
    return svg(f"{title}: what the packer did for each 64 KiB of input", panels, "input offset, bytes",
               xmarks=marks, note="red lines: dictionary resets", panel_height=150)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="what", required=True)
    p = sub.add_parser("profile", help="draw vorka-profile's profile.csv")
    p.add_argument("csv")
    p.add_argument("--out", help="the SVG to write (default: profile.svg beside the CSV)")
    p.add_argument("--title", help="the file's name in the title (default: the CSV's folder)")
    a = ap.parse_args()
    name = os.path.basename(sys.argv[0])
    out = a.out or os.path.join(os.path.dirname(os.path.abspath(a.csv)), "profile.svg")
    try:
        with open(a.csv, newline="") as f:
            rows = list(csv.DictReader(f))
        want = {"offset", "bytes", "bits_per_byte", "codes", "new_entries", "resets", "width", "longest"}
        if rows and not want <= set(rows[0]):
            raise ValueError(f"{a.csv} is not a profile.csv of vorka-profile")
        text = profile_svg(rows, a.title or os.path.basename(os.path.dirname(os.path.abspath(a.csv))))
        with open(out, "w") as f:
            f.write(text)
    except (OSError, ValueError, KeyError) as e:
        print(f"{name}: {e}", file=sys.stderr)
        sys.exit(1)
    print(out)


if __name__ == "__main__":
    main()
