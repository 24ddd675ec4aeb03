#!/usr/bin/python3
"""vorn.score beside the command line on the same run: wall seconds of each, best of --repeat.
   PYTHONPATH=build/python bench/python_vs_cli.py build/vorn ALIGNMENT MATRIX [-S=n]"""
import argparse
import subprocess
import time

import vorn

ap = argparse.ArgumentParser()
ap.add_argument("binary")
ap.add_argument("alignment")
ap.add_argument("matrix")
ap.add_argument("-S", type=int, default=0)
ap.add_argument("--repeat", type=int, default=3)
a = ap.parse_args()
flags = ["-S=%d" % a.S, "-R=1"] if a.S else []


def best(f):
    times = []
    for _ in range(a.repeat):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times)


cli = best(lambda: subprocess.run([a.binary, a.alignment, a.matrix, *flags], check=True,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
py = best(lambda: vorn.score(a.alignment, a.matrix, permutations=a.S, seed=1 if a.S else None))
print("cli %.2f s  python %.2f s  (python/cli %.3f)" % (cli, py, py / cli))
