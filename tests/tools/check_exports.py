#!/usr/bin/env python3
"""Checks the -O export files of one run the way their users read them.

The table is loaded with pandas (read_csv, sep="\\t") when pandas is installed
and compared number by number with the result lines the run printed; its
honest P- and q-values are recomputed here. The profile is parsed as XML and
must hold one mark per result line of the right kind, ten labels and, with
-S, a mark per defined Z-score. The table's resnum, the profile's labels and
the residues the PyMOL and Chimera scripts colour must be those of protein 1,
numbered as the alignment file itself gives them. With --pymol the PyMOL script
must run without an error, with --jalview Jalview must lay the annotations onto
the alignment. Exit status 77 means "skipped": PyMOL or Jalview missing.
"""
import itertools
import json
import math
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"

AMINO = "AVLIPFWMGSTCYNQDEKRH"  # vorn's residue order


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


def benjamini_hochberg(ps):
    """q-values of the P-values ps, in their order."""
    m = len(ps)
    order = sorted(range(m), key=lambda i: ps[i])
    q, running = [0.0] * m, 1.0
    for rank in range(m, 0, -1):
        i = order[rank - 1]
        running = min(running, ps[i] * m / rank)
        q[i] = running
    return q


def check_honest(df, nsuffl):
    """Pval_pos_p1 = (b + 1) / (n + 1) and its Benjamini-Hochberg q-values."""
    scored = df[df.KLB_VAL >= -1]
    p1 = [(round(p * nsuffl) + 1) / (nsuffl + 1) for p in scored.Pval_pos]
    for got, exp in zip(list(scored.Pval_pos_p1) + list(scored.qval_pos), p1 + benjamini_hochberg(p1)):
        if abs(got - exp) > 1e-6 * exp:
            fail(f"honest P or q {got} where {exp} is due")
    if df[df.KLB_VAL < -1][["Pval_pos_p1", "qval_pos"]].notna().any().any():
        fail("a column without a score has an honest P-value")


def check_tree(df):
    """-B: P = (b + 1) / (m + 1) over the m library columns, nothing for sentinels (q: the honest P's BH)."""
    scored = df[df.KLB_VAL >= -1]
    if scored[["Zscr_tree", "Pval_tree", "qval_tree", "m"]].isna().any().any() or (scored.m < 1).any():
        fail("a scored column without its tree-null values")
    b = scored.Pval_tree * (scored.m + 1)
    if ((b - b.round()).abs() > 1e-4 * b).any() or (b.round() < 1).any() or (b.round() > scored.m + 1).any():
        fail("a tree-null P-value that is not (b + 1) / (m + 1)")
    if df[df.KLB_VAL < -1][["Zscr_tree", "Pval_tree", "qval_tree", "m"]].notna().any().any():
        fail("a column without a score has tree-null values")


def check_grades(df, alignment):
    """Grades: nine bins of half a standard deviation of the scored columns' scores, grade 5 around the mean; the
    insufficient flag for fewer than 45 usable pairs, 5 % gaps or more, or a score of -3; the residues as the
    alignment file has them, the most common first."""
    scored = df[df.KLB_VAL >= -1]
    if len(scored) > 1:
        z = (scored.KLB_VAL - scored.KLB_VAL.mean()) / scored.KLB_VAL.std()
        want = [min(9, max(1, math.floor((x + 2.25) / 0.5) + 1)) for x in z]
        # The scores as printed (four decimals) sit a rounding away from a bin's edge at worst.
        near = [abs((x + 2.25) / 0.5 - round((x + 2.25) / 0.5)) < 1e-3 for x in z]
        if any(g != w and not n for g, w, n in zip(scored.grade, want, near)):
            fail(f"grades {list(scored.grade)[:10]} where {want[:10]} are due")
    if df[df.KLB_VAL < -1].grade.notna().any():
        fail("a column without a score has a grade")
    rows = alignment_rows(alignment)
    columns = list(zip(*columns_of(rows))) if rows else None
    for r in df.itertuples(index=False):
        counts = [(t.split(":")[0], int(t.split(":")[1])) for t in r.residues.split()]
        nprot = sum(n for _, n in counts)
        if columns:
            column = columns[r.nr - 1]
            due = sorted({c: column.count(c) for c in column}.items(), key=lambda t: (-t[1], ("-" + AMINO).index(t[0])))
            if counts != due:
                fail(f"column {r.nr}: residues {r.residues!r} where the alignment has {due}")
        gaps = dict(counts).get("-", 0)
        present = nprot - gaps
        due = r.KLB_VAL == -3 or (r.KLB_VAL >= -1 and (present * (present - 1) // 2 < 45 or gaps * 100 >= 5 * nprot))
        if bool(r.insufficient) != due:
            fail(f"column {r.nr}: insufficient {r.insufficient} for residues {r.residues!r}")


# Machado, Oliveira and Fernandes (2009), severity 1, on linear RGB.
MACHADO = {
    "deuteranopia": [[0.367322, 0.860646, -0.227968], [0.280085, 0.672501, 0.047413], [-0.011820, 0.042940, 0.968881]],
    "protanopia": [[0.152286, 1.052583, -0.204868], [0.114503, 0.786281, 0.099216], [-0.003882, -0.048116, 1.051998]],
    "tritanopia": [[1.255528, -0.076749, -0.178779], [-0.078411, 0.930809, 0.147602], [0.004733, 0.691367, 0.303900]]}


def lab_seen(rgb, m):
    """CIELAB (D65) of an sRGB colour (0-1 each) as an eye with deficiency m sees it."""
    lin = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4 for c in rgb]
    r, g, b = [min(1.0, max(0.0, sum(m[k][j] * lin[j] for j in range(3)))) for k in range(3)]
    xyz = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047, 0.2126 * r + 0.7152 * g + 0.0722 * b, \
        (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883
    f = [t ** (1 / 3) if t > 0.008856 else 7.787 * t + 16 / 116 for t in xyz]
    return 116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2])


def check_colours(prefix, df, classic):
    """The .pml colours each scored residue by its grade's colour (-C=classic: the blue-white-red spectrum), with
    the page's palette; under each simulated deficiency, neighbouring grades stay 10 CIELAB units apart and in
    order (lightest at 5), conserved and selected 20 from every grade and from each other."""
    pml = open(prefix + ".pml").read()
    if classic:
        if "spectrum b, blue_white_red, vorn_scored" not in pml or "vorn_g1" in pml:
            fail("-C=classic: the PyMOL script does not colour by the blue-white-red spectrum")
        return
    html = open(prefix + ".html").read()
    palette = json.loads(re.search(r'id="vorn-data">(.*?)</script>', html, re.S).group(1))["palette"]
    rgb = lambda h: [int(h[i:i + 2], 16) / 255 for i in (1, 3, 5)]
    set_colour = {n: [float(x) for x in v.split(",")] for n, v in re.findall(r"set_color (\w+), \[([^]]*)\]", pml)}
    if any(max(abs(a - b) for a, b in zip(set_colour.get(f"vorn_g{g + 1}", [9] * 3), rgb(c))) > 0.002
           for g, c in enumerate(palette["grades"])) or "color vorn_cons, vorn_conserved" not in pml:
        fail("the PyMOL script's grade colours are not the page's")
    # As lists: residues of two chains that no selection can name share their "resi N".
    selected = sorted((f"{chain}:{resi}", int(g)) for g, part in re.findall(r"select vorn_grade(\d), vorn_grade\d or (.*)", pml)
                      for chain, resi in re.findall(r"\((?:chain (\S) and )?resi \\?(-?\d+)\)", part))
    if df is not None:
        chain = lambda c: "" if pd_na(c) or c == '"' else c
        want = sorted((f"{chain(r.chain)}:{int(r.resnum)}", int(r.grade))
                      for r in df.itertuples() if r.KLB_VAL >= -1 and not pd_na(r.resnum))
        if selected != want:
            fail(f"the PyMOL grade selections differ from the table's grades at {sorted(set(selected) ^ set(want))[:4]}")
    for name, m in MACHADO.items():
        grades = [lab_seen(rgb(c), m) for c in palette["grades"]]
        apart = [math.dist(a, b) for a, b in zip(grades, grades[1:])]
        light = [g[0] for g in grades]
        if min(apart) < 10 or not all(a < b for a, b in zip(light[:5], light[1:5])) or \
                not all(a > b for a, b in zip(light[4:], light[5:])):
            fail(f"{name}: the grade colours run together or out of order ({min(apart):.1f})")
        marks = [lab_seen(rgb(palette[k]), m) for k in ("conserved", "selected")]
        if min(math.dist(x, g) for x in marks for g in grades) < 20 or math.dist(*marks) < 20:
            fail(f"{name}: conserved or selected is near a grade's colour")


def check_in_jalview(prefix, alignment):
    """Jalview itself (headless) lays prefix.jalview onto the alignment file and saves a project: its "vorn score"
    row holds each score of the file at the file column the annotation file gives it."""
    if not os.path.exists("/usr/bin/jalview"):
        print("SKIP: the Jalview check needs jalview")
        sys.exit(77)
    import zipfile
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run(["/usr/bin/jalview", "-nodisplay", "-open", alignment, "-annotations", prefix + ".jalview",
                              "-jalview", tmp + "/p.jvp"], capture_output=True, text=True, timeout=300,
                             env={**os.environ, "HOME": tmp})
        if not os.path.exists(tmp + "/p.jvp"):
            fail(f"Jalview saved no project: {out.stdout[-300:]}{out.stderr[-300:]}")
        with zipfile.ZipFile(tmp + "/p.jvp") as z:
            xml = z.read(next(n for n in z.namelist() if n.endswith(".xml"))).decode()
    row = next((a for a in xml.split("<ns2:Annotation ")[1:] if "<ns2:label>vorn score</ns2:label>" in a), None)
    if not row:
        fail("Jalview shows no row 'vorn score'")
    got = {int(k) + 1: float(v) for k, v in re.findall(
        r'<ns2:annotationElement position="(\d+)"[^>]*>.*?<ns2:value>([^<]*)</ns2:value>', row, re.S)}
    bars = next(l.split("\t")[3].split("|")[:-1] for l in open(prefix + ".jalview") if l.startswith("BAR_GRAPH\tvorn score"))
    want = {k: float(v.split(",")[0]) for k, v in enumerate(bars, 1) if v}
    if got != want:
        fail(f"Jalview reads the scores at other columns: {sorted(set(got.items()) ^ set(want.items()))[:4]}")


def pd_na(v):
    return v is None or (isinstance(v, float) and math.isnan(v)) or str(v) in ("<NA>", "nan")


def check_table(path, lines, extended, nsuffl, tree=False, letters=None):
    """The table as pandas reads it, number by number against the result lines; its aa, with -F, the reference's
    own letters (letters, by column)."""
    try:
        import pandas as pd
    except ImportError:
        print("note: pandas is not installed; the table was not read with it")
        return None
    df = pd.read_csv(path, sep="\t")
    want = ["nr", "aa", "pdbn", "chain", "acc", "entrop", "secstr", "var", "xx", "KLB_VAL"]
    if extended:
        want += ["Zscr_pos", "Pval_pos", "Zscr_glob", "Pval_glob"]
    tail = (["Zscr_tree", "Pval_tree", "qval_tree", "m"] if tree else []) + ["grade", "insufficient", "residues"]
    if list(df.columns) != want + ["resnum"] + (["Pval_pos_p1", "qval_pos"] if extended else []) + tail \
            or len(df) != len(lines):
        fail(f"pandas reads {list(df.columns)} x {len(df)} for {len(lines)} result lines")
    for col in want:
        kind = "O" if col in TEXT else "i" if col in INTEGERS else "f"
        if len(df) and col != "chain" and df[col].dtype.kind != kind:  # a column of blank chains is all NaN
            fail(f"pandas reads column {col} as {df[col].dtype}")
    for rec, line in zip(df.itertuples(index=False), lines):
        fields = result_fields(line)
        if letters is not None:
            fields[1] = letters[int(fields[0]) - 1]
        for col, got, exp in zip(want, rec, fields):
            if col in TEXT:  # a '"' chain would open a quoted field: it is left empty
                ok = (got if isinstance(got, str) else "") == ("" if col == "chain" and exp == '"' else exp)
            else:
                ok = same(float(got), number(exp))
            if not ok:
                fail(f"pandas reads {col} {got!r} for {exp!r} in {line!r}")
    if extended:
        check_honest(df, nsuffl)
    return df


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
    for kind, count in (("mark conserved", sum(1 for x in scores if x == -2)),
                        ("mark sentinel", sum(1 for x in scores if x < -2))):
        if sum(1 for m in marks if m.get("class") == kind) != count:
            fail(f"not {count} marks of class {kind}")
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


def alignment_rows(path, raw=False):
    """The rows of a FASTA, A3M, Stockholm or Clustal file by name, as the file has them; None for HSSP. Stockholm's
    insert columns (#=GC RF '.', '-', '_' or '~') are written as A3M writes inserts (lower case, no gap) unless raw."""
    text = open(path).read().splitlines()
    if text[0].startswith("HSSP"):
        return None
    rows, name, rf = {}, None, ""
    for l in text:
        if text[0].startswith(("# STOCKHOLM", "CLUSTAL")):
            if l.startswith("#=GC RF"):
                rf += l.split()[2]
            elif l.strip() and not l.startswith(("#", "//", "CLUSTAL")) and not l[0].isspace():
                name, seq = l.split()[:2]
                rows[name] = rows.get(name, "") + seq
        elif l.startswith(">"):
            name = l[1:].split()[0]
            rows.setdefault(name, "")
        elif name is not None:
            rows[name] += "".join(l.split())
    if rf and not raw:
        rows = Rows({n: "".join(c.upper().replace(".", "-") if m not in ".-_~" else c.lower() if c.isalpha() else "."
                                for c, m in zip(r, rf)) for n, r in rows.items()})
        rows.inserts = True
    return rows


class Rows(dict):
    inserts = False  # Stockholm's insert columns written in lower case and '.'


def a3m_like(rows):
    """Lower case marks inserts in A3M (rows of different lengths) and in the rows of a Stockholm file with RF."""
    return getattr(rows, "inserts", False) or \
        len({len(r) for r in rows.values()}) > 1 and any(c.islower() for r in rows.values() for c in r)


def file_columns(path):
    """Where each scored position sits among the file's columns (from 1), and how many the file has: Stockholm's
    RF picks its match columns, an A3M file's columns are its match states; None for HSSP."""
    rows = alignment_rows(path, raw=True)
    if rows is None:
        return None, None
    first = next(iter(rows.values()))
    rf = "".join(l.split()[2] for l in open(path) if l.startswith("#=GC RF"))
    if rf:
        return [k + 1 for k, m in enumerate(rf) if m not in ".-_~"], len(first)
    a3m = a3m_like(rows)
    width = sum(1 for c in first if c.isupper() or c == "-") if a3m else len(first)
    return list(range(1, width + 1)), width


def check_jalview(prefix, df, alignment):
    """Jalview's annotation grammar: JALVIEW_ANNOTATION, then "BAR_GRAPH<TAB>label<TAB>description<TAB>v|...|" with
    one value per column of the file, each empty or "number,tooltip,[rrggbb]", and GRAPHLINE rows of a bar graph;
    each result line's score (0 where conserved) and grade at its own column of the file."""
    text = open(prefix + ".jalview").read().splitlines()
    at, width = file_columns(alignment)
    bars = {}
    field = re.compile(r"(-?\d+(\.\d+)?,[^,|\[\]\t]*,\[[0-9a-f]{6}\])?")
    for l in text[1:]:
        f = l.split("\t")
        if l.startswith("#"):
            continue
        if f[0] == "BAR_GRAPH" and len(f) == 4 and f[3].endswith("|"):
            bars[f[1]] = f[3].split("|")[:-1]
            if width and len(bars[f[1]]) != width or not all(field.fullmatch(v) for v in bars[f[1]]):
                fail(f"Jalview row {f[1]}: {len(bars[f[1]])} values for {width} columns, or a value off the grammar")
        elif not (f[0] == "GRAPHLINE" and len(f) == 5 and f[1] in bars):
            fail(f"Jalview line off the grammar: {l[:80]!r}")
    if text[0] != "JALVIEW_ANNOTATION" or not {"vorn score", "vorn grade"} <= set(bars) or df is None:
        return
    for r in df.itertuples():
        k = at[r.nr - 1] if at else r.nr
        score, grade = bars["vorn score"][k - 1].split(",")[0], bars["vorn grade"][k - 1].split(",")[0]
        if score != ("" if r.KLB_VAL < -2 else "%.4f" % max(r.KLB_VAL, 0 if r.KLB_VAL == -2 else -1)) or \
                grade != ("" if pd_na(r.grade) else str(int(r.grade))):
            fail(f"Jalview: column {r.nr} (file column {k}) shows {score!r} grade {grade!r}")


def columns_of(rows):
    """Each row's letters at the alignment's columns (an A3M row's lower-case letters are residues, not columns),
    upper-cased, with '-' for what vorn reads as a gap."""
    a3m = a3m_like(rows)
    return [[c.upper() if c.upper() in AMINO else "-" for c in r if not a3m or c.isupper() or c == "-"]
            for r in rows.values()]


def reference_sites(path, reference=None, with_letters=False):
    """The reference row's residue at each column, "chain:number" or None, read from the alignment file: protein 1
    of an HSSP file by its PDB numbers, else the named row (or the first) by its own residues from its name's
    /start-end."""
    rows = alignment_rows(path)
    if rows is None:
        text = open(path).read().splitlines()
        at = next(i for i, l in enumerate(text) if l.startswith("## ALIGNMENTS")) + 2
        lines = itertools.takewhile(lambda l: not l.startswith(("##", "//")), text[at:])
        return [l[12].strip(' "') + f":{int(l[7:12])}" if l[14].isalpha() else None for l in lines]
    name = reference or next(iter(rows))
    a3m = a3m_like(rows)
    number = int(name.rsplit("/", 1)[1].split("-")[0]) - 1 if "/" in name else 0  # Pfam's name/start-end
    sites, letters = [], []
    for c in rows[name]:
        number += c.isalpha()
        if not a3m or c.isupper() or c == "-":
            sites.append(f":{number}" if c.isalpha() else None)
            # As the result line shows protein 1's: letters vorn reads as gaps show as '.'.
            letters.append(c.upper() if c.upper() in AMINO else ".")
    return (sites, letters) if with_letters else sites


def check_sites(alignment, prefix, lines, df, reference):
    """Every real score of a column where the reference has a residue, at that residue, in every export."""
    sites = reference_sites(alignment, reference)
    site_of = {int(result_fields(l)[0]): sites[int(result_fields(l)[0]) - 1] for l in lines}
    want = {site_of[int(f[0])]: f[9] for f in map(result_fields, lines) if float(f[9]) >= -1 and site_of[int(f[0])]}
    pml = open(prefix + ".pml").read()
    got = {f"{c}:{n}": b for c, n, b in re.findall(r"alter \((?:chain (\S) and )?resi \\?(-?\d+)\), b=(\S+)", pml)}
    if got != want:
        fail(f"the PyMOL script colours {sorted(set(got) ^ set(want))[:5]} wrongly")
    if want and not pml.find("alter all, b=-9\n") < pml.find("alter ("):
        fail("the PyMOL script does not reset b before colouring the scored residues")
    attr = open(prefix + ".defattr").read().split("attribute: ")
    score = next(a for a in attr if a.startswith("vorn_score"))
    got = {w.lstrip("/"): v for w, v in re.findall(r"\n\t(\S+)\t(\S+)", score)}
    if got != want:
        fail(f"the Chimera file scores {sorted(set(got) ^ set(want))[:5]} wrongly")
    if df is not None and [str(r) for r in df.resnum.fillna(-1).astype(int)] != \
            [(site_of[int(result_fields(l)[0])] or ":-1").split(":")[1] for l in lines]:
        fail("the table's resnum is not protein 1's numbering")
    for text in re.findall(r'class="label"[^>]*>([^<]*)<', open(prefix + ".svg").read()):
        chain, _, residue = text.rpartition(":")
        if not text.startswith("column ") and f"{chain}:{residue[1:]}" not in want:
            fail(f"label {text} names no scored residue")


def check_pymol(path):
    """The script runs in PyMOL (Debian's, under its own Python) without an error."""
    if not os.path.exists("/usr/bin/pymol"):
        print("SKIP: the PyMOL check needs pymol")
        sys.exit(77)
    out = subprocess.run(["/usr/bin/pymol", "-cq", path], capture_output=True, text=True, timeout=300,
                         env={"PATH": "/usr/bin:/bin", "HOME": os.environ.get("HOME", "/tmp")})
    text = out.stdout + out.stderr
    bad = [l for l in text.splitlines() if any(w in l for w in ("Error", "Traceback", "Invalid", "Unknown"))]
    if out.returncode != 0 or bad:
        fail(f"PyMOL: {bad[:3] or out.returncode}")


def main():
    # check_exports.py VORN ALIGNMENT MATRIX [vorn options] [--pymol] [--jalview]: the vorn
    # options look like flags too, so the arguments are taken by hand.
    flags = dict(a[2:].partition("=")[::2] for a in sys.argv[1:] if a.startswith("--"))
    argv = [a for a in sys.argv[1:] if not a.startswith("--")]
    if len(argv) < 3:
        sys.exit(__doc__)
    vorn, args = argv[0], argv[1:]
    with tempfile.TemporaryDirectory() as tmp:
        prefix = os.path.join(tmp, "x")
        # An ignored argument that is not UTF-8 (a path in another encoding) must still give a valid record.
        run = subprocess.run([vorn] + args + ["-q", "-O=" + prefix, b"\xff-\xe9"], capture_output=True)
        run.stdout, run.stderr = run.stdout.decode(errors="replace"), run.stderr.decode(errors="replace")
        if run.returncode != 0:
            fail(f"vorn exited {run.returncode}: {run.stdout[-500:]}")
        record = json.loads(open(prefix + ".json", "rb").read().decode("utf-8"))
        if record["command"][-1] != "\ufffd-\ufffd" or "numbered" not in record["reference"]:
            fail(f"the run record: {record['command'][-1]!r}, {record['reference']!r}")
        lines = run.stdout.splitlines()
        nsuffl = max([int(o[3:] or 0) for o in args if o.startswith("-S")] + [0])
        tree = any(o.startswith("-B") for o in args)
        reference = next((o[3:] for o in args if o.startswith("-F")), None)
        letters = reference_sites(args[0], reference, True)[1] if reference else None
        df = check_table(prefix + ".tsv", lines, nsuffl > 0, nsuffl, tree, letters)
        if df is not None:
            check_grades(df, args[0])
        if tree and df is not None:
            check_tree(df)
        check_sites(args[0], prefix, lines, df, reference)
        check_svg(prefix + ".svg", lines, nsuffl > 0)
        check_colours(prefix, df, "-C=classic" in args)
        check_jalview(prefix, df, args[0])
        if "jalview" in flags:
            check_in_jalview(prefix, args[0])
        if "pymol" in flags:
            check_pymol(prefix + ".pml")
    print(f"ok: {len(lines)} result lines")


if __name__ == "__main__":
    main()
