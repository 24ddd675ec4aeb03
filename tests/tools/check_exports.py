#!/usr/bin/env python3
"""Checks the -O export files of one run the way their users read them.

The table is loaded with pandas (read_csv, sep="\\t") when pandas is installed,
with the csv module otherwise, and compared number by number with the result
lines the run printed. The profile is parsed as XML and must hold one mark per
result line; with --render it is also drawn by headless Chromium and the
picture must not be blank. Exit status 77 means "skipped": --render without
Chromium or Pillow.
"""
import argparse
import csv
import math
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def result_fields(line):
    """A result line's fields; a blank chain gives no token of its own."""
    t = line.split()
    if t.index("xx") == 7:
        t.insert(3, "")
    return t


def number(text):
    """The value a field stands for: '[]' and an empty field are missing."""
    return None if text in ("", "[]") else float(text)


def same(a, b):
    if a is None or b is None:
        return a is None and b is None
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return a == b


TEXT = ("aa", "chain", "secstr", "xx")


def check_table(path, lines, extended):
    with open(path, newline="") as f:
        rows = list(csv.reader(f, delimiter="\t"))
    want = ["nr", "aa", "pdbn", "chain", "acc", "entrop", "secstr", "var", "xx", "KLB_VAL"]
    if extended:
        want += ["Zscr_pos", "Pval_pos", "Zscr_glob", "Pval_glob"]
    if rows[0] != want:
        fail(f"table header {rows[0]}")
    rows = rows[1:]
    if len(rows) != len(lines):
        fail(f"{len(rows)} table rows for {len(lines)} result lines")
    for row, line in zip(rows, lines):
        f = result_fields(line)
        if len(row) != len(f):
            fail(f"row {row} against line {line!r}")
        for name, got, exp in zip(want, row, f):
            if not (got == exp if name in TEXT else same(number(got), number(exp))):
                fail(f"{name}: {got!r} against {exp!r} in {line!r}")
    try:
        import pandas as pd
    except ImportError:
        print("note: pandas is not installed; the table was read with the csv module only")
        return
    df = pd.read_csv(path, sep="\t")
    if list(df.columns) != want or len(df) != len(rows):
        fail(f"pandas reads {list(df.columns)} x {len(df)}")
    for col in want:
        if col in TEXT:
            continue
        kind = "i" if col in ("nr", "pdbn", "acc", "var") else "f"
        if df[col].dtype.kind != kind:
            fail(f"pandas reads column {col} as {df[col].dtype}")
        for got, row in zip(df[col], rows):
            if not same(float(got), number(row[want.index(col)]) if row[want.index(col)] else float("nan")):
                fail(f"pandas reads {col} {got!r} for {row[want.index(col)]!r}")
    for col in ("aa", "secstr"):
        if list(df[col]) != [r[want.index(col)] for r in rows]:
            fail(f"pandas reads column {col} differently")


def check_svg(path, lines):
    root = ET.parse(path).getroot()
    if root.tag != SVG + "svg":
        fail(f"root element {root.tag}")
    marks = [e for e in root.iter() if (e.get("class") or "").split()[:1] == ["mark"]
             and e.get("class") != "mark z"]
    if len(marks) != len(lines):
        fail(f"{len(marks)} marks for {len(lines)} result lines")
    if sorted(int(m.get("data-nr")) for m in marks) != sorted(int(result_fields(l)[0]) for l in lines):
        fail("the marks are not those of the scored columns")
    if not any((e.text or "").startswith("vorn: ") for e in root.iter(SVG + "text")):
        fail("no title")
    return int(float(root.get("width"))), int(float(root.get("height")))


def render(path, size, scored):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    try:
        from PIL import Image
    except ImportError:
        Image = None
    if not chromium or Image is None:
        print("SKIP: rendering needs chromium and Pillow")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as tmp:
        png = os.path.join(tmp, "profile.png")
        subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        "--hide-scrollbars", f"--user-data-dir={tmp}/profile", f"--window-size={size[0]},{size[1]}",
                        f"--screenshot={png}", "file://" + os.path.abspath(path)],
                       check=True, capture_output=True, timeout=120)
        img = Image.open(png).convert("RGB")
        colours = img.getcolors(maxcolors=1 << 20) or []
        ink = sum(n for n, c in colours if c != (255, 255, 255))
        if len(colours) < 3 or ink < 0.002 * img.width * img.height:
            fail(f"the rendered profile is blank ({len(colours)} colours, {ink} non-white pixels)")
        blue_or_red = sum(n for n, (r, g, b) in colours if abs(r - g) > 60 or abs(b - g) > 60)
        if scored and blue_or_red == 0:
            fail("no coloured mark in the rendered profile")


def main():
    # check_exports.py [--render] VORN ALIGNMENT MATRIX [vorn options]; the
    # vorn options look like flags, so the arguments are taken by hand.
    argv = sys.argv[1:]
    a = argparse.Namespace(render=argv[:1] == ["--render"])
    argv = argv[1:] if a.render else argv
    if len(argv) < 3:
        sys.exit(__doc__)
    a.vorn, a.args = argv[0], argv[1:]
    with tempfile.TemporaryDirectory() as tmp:
        prefix = os.path.join(tmp, "x")
        env = dict(os.environ)
        run = subprocess.run([a.vorn] + a.args + ["-O=" + prefix], capture_output=True, text=True, env=env)
        if run.returncode != 0:
            fail(f"vorn exited {run.returncode}: {run.stdout[-500:]}")
        lines = run.stdout.splitlines()
        extended = any(o.startswith("-S") and o[3:] not in ("", "0") for o in a.args)
        check_table(prefix + ".tsv", lines, extended)
        size = check_svg(prefix + ".svg", lines)
        if a.render:
            render(prefix + ".svg", size, any(float(result_fields(l)[9]) >= -1 for l in lines))
    print(f"ok: {len(lines)} result lines")


if __name__ == "__main__":
    main()
