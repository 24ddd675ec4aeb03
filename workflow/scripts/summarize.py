#!/usr/bin/env python3
"""The best columns of every family, from the tables vorn writes with -O.

summarize.py --top N --out summary.tsv --families NAME... --seeds SEED... --tables TABLE...

One row per (family, rank): the family's N highest scores, ties by column;
columns without a score (-2, -3) never count. The fields are copied from the
family's table as they stand, so the numbers are vorn's own; the seed of each
family's permutations is recorded beside them ("-" when the options gave one),
and the reference sequence that numbers `resnum` from the family's run record.
A family whose table is missing (its run failed) gets one row with its "** "
message from the log beside the table (or "not run") in `error`.
"""
import argparse
import csv
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


def reference(table):
    try:
        with open(table[:-len(".tsv")] + ".json") as f:
            return json.load(f).get("reference", "")
    except (OSError, ValueError):
        return ""


def failure(table):
    """The "** " lines of a failed family's log, or why there is none."""
    try:
        with open(table[:-len(".tsv")] + ".log", errors="replace") as f:
            lines = [l.strip() for l in f if l.startswith("** ") and "Warning" not in l]
    except OSError:
        return "not run"
    return " ".join(dict.fromkeys(lines)) or "failed without a message"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--top", type=int, default=10)
    ap.add_argument("--out", required=True)
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


if __name__ == "__main__":
    main()
