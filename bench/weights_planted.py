#!/usr/bin/env python3
"""The ROC AUC of the planted subfamily-specific positions with and without -W, on the HIV protease family with
60 near-copies of one sequence added and on the family without them (README, "Sequence weights").

    weights_planted.py VORN MATRIX SHARED_DATA
"""
import os
import subprocess
import sys


def scores(vorn, alignment, matrix, *options):
    out = subprocess.run([vorn, alignment, matrix, "-q", *options], check=True, capture_output=True, text=True).stdout
    fields = [line.split() for line in out.splitlines()]
    return {int(f[0]): float(f[f.index("xx") + 1]) for f in fields if float(f[f.index("xx") + 1]) >= -1}


def auc(score, truth):
    inside = [s for c, s in score.items() if c in truth]
    outside = [s for c, s in score.items() if c not in truth]
    wins = sum(1.0 if a > b else 0.5 if a == b else 0.0 for a in inside for b in outside)
    return wins / (len(inside) * len(outside))


def main():
    vorn, matrix, shared = sys.argv[1:4]
    red = os.path.join(shared, "families", "redundant")
    truth = {int(l.split()[0]) for l in open(os.path.join(red, "1hpv_n25.truth.tsv")) if l[:1].isdigit()}
    plain = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "1hpv_n25.hssp")
    for name, alignment in (("with 60 near-copies", os.path.join(red, "1hpv_n25_plus60.fa")), ("as it is", plain)):
        print(f"{name}: AUC {auc(scores(vorn, alignment, matrix), truth):.3f} without -W, "
              f"{auc(scores(vorn, alignment, matrix, '-W'), truth):.3f} with it")


if __name__ == "__main__":
    main()
