#!/usr/bin/env python3
"""Recomputes vorn's raw-mode result lines from first principles.

An independent route to the expected output of a run on a '>' alignment and a
Raw matrix: single precision is emulated with struct, ranks come from a plain
sort and group walk, and the correlation sums run in pair order in Python's
double precision. Prints the result lines; with --compare FILE, exits 1 when
FILE differs.

    check_scores.py ALIGNMENT RAW_MATRIX [--pearson] [--compare FILE]
"""
import math
import struct
import sys

LETTERS = ".AVLIPFWMGSTCYNQDEKRH"
CODE = {c: i for i, c in enumerate(LETTERS) if i > 0}


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def code_of(ch):
    return CODE.get(ch.upper(), 0)


def read_raw_matrix(path):
    m = [[0.0] * 21 for _ in range(21)]
    with open(path) as fh:
        for line in fh:
            line = line.rstrip("\r\n")
            if len(line) + 1 < 4:
                continue
            r, c = code_of(line[0]), code_of(line[2] if len(line) > 2 else " ")
            v = f32(float(line[4:].split()[0])) if line[4:].split() else 0.0
            m[r][c] = m[c][r] = v
    for k in range(1, 21):
        m[0][k] = m[k][0] = 0.0
    return m


def read_fasta(path):
    rows = []
    with open(path) as fh:
        for line in fh:
            line = line.rstrip("\r\n")
            if line.startswith(">"):
                rows.append([])
                continue
            for ch in line:
                if ch in "-." or ch.isascii() and ch.isalpha():
                    rows[-1].append(0 if ch in "-." else code_of(ch))
    n = len(rows[0])
    return [r + [0] * (n - len(r)) for r in rows]


def ranks_of(values):
    """Rank 1 for the largest; ties share the mean of their 1-based places."""
    order = sorted(values, reverse=True)
    first, count = {}, {}
    for place, v in enumerate(order, 1):
        first.setdefault(v, place)
        count[v] = count.get(v, 0) + 1
    out = []
    for v in values:
        a, m = first[v], count[v]
        t = m * a + m * (m - 1) // 2
        out.append(f32(f32(float(t)) / f32(float(m))))
    return out


def correlation(x, y, usable):
    sx = sy = 0.0
    n = 0
    for xv, yv, u in zip(x, y, usable):
        if u:
            sx += xv
            sy += yv
            n += 1
    if n == 0:
        return -2.0
    mx, my = sx / n, sy / n
    sxy = sxx = syy = 0.0
    for xv, yv, u in zip(x, y, usable):
        if u:
            dx, dy = xv - mx, yv - my
            sxy += dx * dy
            sxx += dx * dx
            syy += dy * dy
    if sxx == 0 or syy == 0:
        return -2.0
    if n <= 10:
        return -3.0
    return f32(sxy / (math.sqrt(syy) * math.sqrt(sxx)))


def entropy(col):
    gaps = col.count(0)
    residues = len(col) - gaps
    h = 0.0
    for c in range(1, 21):
        k = col.count(c)
        if k:
            p = f32(f32(float(k)) / f32(float(residues)))
            lg = f32(math.log10(p) / 0.3010299956639812)
            h = f32(h - f32(lg * p))
    if residues == 0:
        return -1.0
    q = f32(f32(float(gaps)) / f32(float(residues)))
    return h if q <= 0.1 else -1.0


def main(argv):
    pearson = "--pearson" in argv
    compare = argv[argv.index("--compare") + 1] if "--compare" in argv else None
    paths = [a for a in argv if not a.startswith("--") and a != compare]
    aln, mat = read_fasta(paths[0]), read_raw_matrix(paths[1])
    n, length = len(aln), len(aln[0])
    pairs = [(i, j) for i in range(n) for j in range(i + 1, n)]
    sim = []
    for i, j in pairs:
        s, k = 0.0, 0
        for p in range(length):
            a, b = aln[i][p], aln[j][p]
            if a and b:
                k += 1
            s = f32(s + mat[a][b])
        sim.append(0.0 if s == 0.0 or k == 0 else f32(s / f32(float(k))))
    y = sim if pearson else ranks_of(sim)
    lines = []
    for p in range(length):
        col = [aln[i][p] for i in range(n)]
        if f32(f32(f32(float(col.count(0))) / f32(float(n))) * 100.0) >= 10.0:
            continue
        vals = [mat[col[i]][col[j]] for i, j in pairs]
        usable = [col[i] != 0 and col[j] != 0 for i, j in pairs]
        x = vals if pearson else ranks_of(vals)
        score = correlation(x, y, usable)
        lines.append("%4d %4s %4d %s   %3d  %6.3f   %s %3d  xx %9.4f \n"
                     % (p + 1, LETTERS[col[0]] if col[0] else ".", p + 1, " ", -1, entropy(col), "-", -1, score))
    text = "".join(lines)
    if compare is None:
        sys.stdout.write(text)
        return 0
    with open(compare) as fh:
        got = fh.read()
    if got != text:
        for k, (a, b) in enumerate(zip(got.splitlines(), text.splitlines())):
            if a != b:
                sys.stderr.write("first difference at line %d:\n  got  %s\n  want %s\n" % (k + 1, a, b))
                break
        else:
            sys.stderr.write("line counts differ: %d vs %d\n" % (len(got.splitlines()), len(text.splitlines())))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
