#!/usr/bin/env python3
"""Checks the -O export files of one run the way their users read them.

The table is loaded with pandas (read_csv, sep="\\t") when pandas is installed
and compared number by number with the result lines the run printed. The
profile is parsed as XML and must hold one mark per result line, a cross per
sentinel, ten labels and, with -S, a mark per defined Z-score; with --render it
is also drawn by headless Chromium and the picture must not be blank. Exit status 77 means "skipped": --render without
Chromium or Pillow.
"""
import argparse
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
    """The value a field stands for; pandas reads '[]' as an empty field, NaN."""
    return float("nan") if text in ("", "[]") else float(text)


def same(a, b):
    return (math.isnan(a) and math.isnan(b)) or a == b


TEXT = ("aa", "chain", "secstr", "xx")
INTEGERS = ("nr", "pdbn", "acc", "var")


def check_table(path, lines, extended):
    """The table as pandas reads it; its exact text is checked by the C++ tests."""
    try:
        import pandas as pd
    except ImportError:
        print("note: pandas is not installed; the table was not read with it")
        return
    df = pd.read_csv(path, sep="\t")
    want = ["nr", "aa", "pdbn", "chain", "acc", "entrop", "secstr", "var", "xx", "KLB_VAL"]
    if extended:
        want += ["Zscr_pos", "Pval_pos", "Zscr_glob", "Pval_glob"]
    if list(df.columns) != want or len(df) != len(lines):
        fail(f"pandas reads {list(df.columns)} x {len(df)} for {len(lines)} result lines")
    for col in want:
        kind = "O" if col in TEXT else "i" if col in INTEGERS else "f"
        if col != "chain" and df[col].dtype.kind != kind:  # a column of blank chains is all NaN
            fail(f"pandas reads column {col} as {df[col].dtype}")
    for rec, line in zip(df.itertuples(index=False), lines):
        for col, got, exp in zip(want, rec, result_fields(line)):
            if col in TEXT:
                ok = (got if isinstance(got, str) else "") == exp
            else:
                ok = same(float(got), number(exp))
            if not ok:
                fail(f"pandas reads {col} {got!r} for {exp!r} in {line!r}")


def check_svg(path, lines, extended):
    root = ET.parse(path).getroot()
    if root.tag != SVG + "svg":
        fail(f"root element {root.tag}")
    marks = [e for e in root.iter() if (e.get("class") or "").split()[:1] == ["mark"]
             and e.get("class") != "mark z"]
    if len(marks) != len(lines):
        fail(f"{len(marks)} marks for {len(lines)} result lines")
    if sorted(int(m.get("data-nr")) for m in marks) != sorted(int(result_fields(l)[0]) for l in lines):
        fail("the marks are not those of the scored columns")
    scores = [float(result_fields(l)[9]) for l in lines]
    sentinels = sum(1 for m in marks if m.get("class") == "mark sentinel")
    if sentinels != sum(1 for x in scores if x < -1):
        fail(f"{sentinels} sentinel marks")
    labels = sum(1 for e in root.iter(SVG + "text") if e.get("class") == "label")
    if labels != min(10, sum(1 for x in scores if x >= -1)):
        fail(f"{labels} labelled columns")
    z_marks = sum(1 for e in root.iter() if e.get("class") == "mark z")
    defined = [l for l, x in zip(lines, scores) if extended and x >= -1 and not math.isnan(number(result_fields(l)[10]))]
    if z_marks != len(defined):
        fail(f"{z_marks} Z-score marks")
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
        size = check_svg(prefix + ".svg", lines, extended)
        if a.render:
            render(prefix + ".svg", size, any(float(result_fields(l)[9]) >= -1 for l in lines))
    print(f"ok: {len(lines)} result lines")


if __name__ == "__main__":
    main()
