#!/usr/bin/env python3
"""The tree null's calibration and power on simulated families (bench/simulate_families.py): for each setting,
families without signal (every column's Pval_tree should be uniform) and families with planted subfamily-specific
columns, run through vorn -B, pooled per setting into one line of a Markdown table.

    tree_null_study.py VORN MATRIX [--families 10] [--proteins 50,200] [--columns 300] [--library 2000]
                       [--shapes coalescent,split,clades] [--alphas 0.5,100] [--planted 10] [--seed 1]
    --check: exit 1 when a setting is liberal beyond chance: more than 5 % of the columns at P <= 0.05 or 1 % at
             0.01 by over 2.5 standard errors of that share, or more than one family in ten with a column of its own at
             q <= 0.05.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
import pandas as pd

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simulate_families as sim  # noqa: E402


def run(vorn, matrix, rows, library, prefix):
    with open(prefix + ".fa", "w") as f:
        f.write("".join(f">s{i + 1}\n{r}\n" for i, r in enumerate(rows)))
    subprocess.run([vorn, prefix + ".fa", matrix, f"-B={library}", "-R=1", "-q", "-O=" + prefix], check=True,
                   capture_output=True)
    t = pd.read_csv(prefix + ".tsv", sep="\t")
    return t[t.KLB_VAL >= -1]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("vorn")
    ap.add_argument("matrix")
    for name, default in (("families", "10"), ("proteins", "50,200"), ("columns", "300"), ("library", "2000"),
                          ("shapes", "coalescent,split,clades"), ("alphas", "0.5,100"), ("planted", "10"),
                          ("seed", "1")):
        ap.add_argument("--" + name, default=default)
    ap.add_argument("--check", action="store_true")
    a = ap.parse_args()
    rng = np.random.default_rng(int(a.seed))
    lo, hi = map(int, a.proteins.split(","))
    broken = []
    print("| shape | gamma shape | columns | P <= 0.05 | P <= 0.01 | families with q <= 0.05 | planted at q <= 0.05 "
          "| planted AUC |\n|---|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as tmp:
        for shape in a.shapes.split(","):
            for alpha in map(float, a.alphas.split(",")):
                p, bad, hits, planted, aucs = [], 0, 0, 0, []
                for f in range(int(a.families)):
                    n = int(rng.integers(lo, hi + 1))
                    rows, _ = sim.family(rng, n, int(a.columns), shape, 0, alpha, 0.15 if alpha < 50 else 0.0)
                    t = run(a.vorn, a.matrix, rows, a.library, os.path.join(tmp, "neutral"))
                    p += list(t.Pval_tree)
                    bad += bool((t.qval_tree <= 0.05).any())
                    if int(a.planted):
                        rows, truth = sim.family(rng, n, int(a.columns), shape, int(a.planted), alpha,
                                                 0.15 if alpha < 50 else 0.0)
                        t = run(a.vorn, a.matrix, rows, a.library, os.path.join(tmp, "planted"))
                        inp, out = t[t.nr.isin(truth)], t[~t.nr.isin(truth)]
                        hits += int((inp.qval_tree <= 0.05).sum())
                        planted += len(inp)
                        if len(inp) and len(out):
                            aucs.append(np.mean([(x > y) + 0.5 * (x == y) for x in inp.Zscr_tree for y in out.Zscr_tree]))
                p = np.array(p)
                at05, at01 = np.mean(p <= 0.05), np.mean(p <= 0.01)
                power = f"{hits}/{planted}" if planted else "-"
                auc = f"{np.mean(aucs):.3f}" if aucs else "-"
                print(f"| {shape} | {alpha:g} | {len(p)} | {at05:.3f} | {at01:.3f} | {bad} of {a.families} | {power} "
                      f"| {auc} |", flush=True)
                se = lambda q: 2.5 * (q * (1 - q) / max(len(p), 1)) ** 0.5
                if at05 > 0.05 + se(0.05) or at01 > 0.01 + se(0.01) or bad > max(1, int(a.families) // 10):
                    broken.append(f"{shape}, gamma shape {alpha:g}")
    if a.check and broken:
        sys.exit("FAIL: the tree null is liberal for " + "; ".join(broken))


if __name__ == "__main__":
    main()
