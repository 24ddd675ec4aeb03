#!/usr/bin/env python3
"""The best columns of every family, from the tables vorn writes with -O.

summarize.py --top N --out summary.tsv [--index index.html] --families NAME... --seeds SEED... --tables TABLE...

One row per (family, rank): the family's N highest scores, ties by column;
columns without a score (-2, -3) never count. The fields are copied from the
family's table as they stand, so the numbers are vorn's own; the seed of each
family's permutations is recorded beside them ("-" when the options gave one),
and the reference sequence that numbers `resnum` from the family's run record.
A family whose table is missing (its run failed) gets one row with its "** "
message from the log beside the table (or "not run") in `error`. With --index,
also a page that links every family's page (its .html beside the table) with
its proteins, scored columns, structure and residue check, best columns and
warnings (from its run record), and names each failed family with its message.
"""
import argparse
import csv
import html
import json
import os
import sys

KEEP = ["nr", "aa", "pdbn", "chain", "entrop", "KLB_VAL"]
SIGNIFICANCE = ["Zscr_pos", "Pval_pos", "Pval_pos_p1", "qval_pos", "Zscr_glob", "Pval_glob"]
LAST = ["resnum", "reference", "error"]


def best_rows(path, top):
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    scored = [r for r in rows if float(r["KLB_VAL"]) >= -1]
    scored.sort(key=lambda r: (-float(r["KLB_VAL"]), int(r["nr"])))
    return scored[:top], len(rows)


def record(table):
    """The family's run record (prefix.json), or {} without one."""
    try:
        with open(table[:-len(".tsv")] + ".json") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def reference(table):
    return record(table).get("reference", "")


def run_cells(table):
    """The index's cells of a family's run: its proteins, its structure with the residue check's figure, its
    warnings."""
    r = record(table)
    s = r.get("structure")
    check = ""
    if s:
        share = f" ({100 * s['same'] // s['addressed']} %)" if s["addressed"] else ""
        check = html.escape(f"{s['name']}: {s['same']} of {s['addressed']} residues the same{share}")
    warnings = "<br>".join(html.escape(w.strip()) for w in r.get("warnings", []))
    return [str(r.get("alignment", {}).get("proteins", "")), check, f'<span class="warning">{warnings}</span>']


def failure(table):
    """The "** " lines of a failed family's log, or why there is none."""
    try:
        with open(table[:-len(".tsv")] + ".log", errors="replace") as f:
            lines = [l.strip() for l in f if l.startswith("** ") and "Warning" not in l]
    except OSError:
        return "not run"
    return " ".join(dict.fromkeys(lines)) or "failed without a message"


def site(r):
    """A column's residue as the pages name it: "A:K70", "R11", or "column 7"."""
    if not r.get("resnum"):
        return f"column {r['nr']}"
    return (f"{r['chain']}:" if r.get("chain") else "") + f"{r['aa']}{r['resnum']}"


def write_index(path, picked):
    folder = os.path.dirname(os.path.abspath(path))
    out = ["<!DOCTYPE html>", '<html lang="en"><head><meta charset="utf-8"><title>vorn: families</title>',
           "<style>body{font-family:Helvetica,Arial,sans-serif;margin:1.2em 2em}table{border-collapse:collapse}"
           "td,th{padding:3px 10px;border-bottom:1px solid #eee;text-align:left;vertical-align:top}"
           ".error,.warning{color:#8a3b00}.warning{font-size:0.85em}</style></head><body>",
           f"<h1>vorn: {len(picked)} families</h1>",
           "<table><thead><tr><th>family</th><th>proteins</th><th>scored columns</th><th>structure</th>"
           "<th>best columns (score, q)</th><th>warnings</th></tr></thead><tbody>"]
    for fam, _, table, rows, nscored in picked:
        page = table[:-len(".tsv")] + ".html"
        name = html.escape(fam)
        if rows is None:
            out.append(f'<tr><td>{name}</td><td></td><td></td><td></td><td class="error">{html.escape(failure(table))}</td>'
                       "<td></td></tr>")
            continue
        link = html.escape(os.path.relpath(os.path.abspath(page), folder)) if os.path.exists(page) else None
        best = ", ".join(f"{html.escape(site(r))} {r['KLB_VAL']}" + (f" (q {float(r['qval_pos']):.3g})" if r.get("qval_pos") else "")
                         for r in rows)
        cell = f'<a href="{link}">{name}</a>' if link else name
        proteins, check, warnings = run_cells(table)
        out.append(f"<tr><td>{cell}</td><td>{proteins}</td><td>{nscored}</td><td>{check}</td><td>{best}</td>"
                   f"<td>{warnings}</td></tr>")
    out.append("</tbody></table></body></html>")
    with open(path + ".part", "w") as f:
        f.write("\n".join(out) + "\n")
    os.replace(path + ".part", path)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--top", type=int, default=10)
    ap.add_argument("--out", required=True)
    ap.add_argument("--index")
    ap.add_argument("--families", nargs="+", required=True)
    ap.add_argument("--seeds", nargs="+", required=True)
    ap.add_argument("--tables", nargs="+", required=True)
    a = ap.parse_args(argv)
    if not len(a.families) == len(a.tables) == len(a.seeds):
        sys.exit("summarize.py: one table per family is needed")
    if a.top < 1:
        sys.exit("summarize.py: --top must be 1 or more")
    picked = [(fam, seed, path, *best_rows(path, a.top)) if os.path.exists(path) else (fam, seed, path, None, 0)
              for fam, seed, path in zip(a.families, a.seeds, a.tables)]
    extended = any(rows and "Zscr_pos" in rows[0] for _, _, _, rows, _ in picked)
    fields = KEEP + (SIGNIFICANCE if extended else [])
    header = ["family", "seed", "rank", "scored_columns"] + fields + LAST
    with open(a.out + ".part", "w", newline="") as f:
        w = csv.writer(f, delimiter="\t", lineterminator="\n")
        w.writerow(header)
        for fam, seed, path, rows, nscored in picked:
            if rows is None:
                w.writerow([fam, seed, "", ""] + [""] * len(fields) + ["", "", failure(path)])
                continue
            ref = reference(path)
            for rank, r in enumerate(rows, 1):
                w.writerow([fam, seed, rank, nscored] + [r.get(k, "") for k in fields] + [r.get("resnum", ""), ref, ""])
    os.replace(a.out + ".part", a.out)
    if a.index:
        write_index(a.index, picked)


if __name__ == "__main__":
    main()
