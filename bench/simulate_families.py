#!/usr/bin/env python3
"""Families evolved along known trees, for calibrating the tree null (-B) and measuring its power.

Each family: a random tree of one of three shapes (coalescent, random splits, three clades), columns evolved
under WAG with the family's own residue frequencies (an empirical model other than the LG of vorn's library),
gamma(alpha) rates across columns with a share of invariant columns, and deletions inherited along the tree.
With planted > 0, that many columns are subfamily-specific: the tree cut into --subfamilies clades (the largest
split at its root each time), each clade one residue of its own, with no noise. Needs numpy only.

    simulate_families.py OUT_DIR --families 10 --proteins 50,200 --columns 300 --shape coalescent --seed 1
writes OUT_DIR/<name>.fa and, with --planted, OUT_DIR/<name>.truth (the planted columns, one per line).
"""
import argparse
import os

import numpy as np

PAML = "/usr/lib/paml/data/dat/wag.dat"
ORDER = "ARNDCQEGHILKMFPSTWYV"  # PAML's


def wag_exchangeabilities():
    numbers = []
    for word in open(PAML).read().split():
        try:
            numbers.append(float(word))
        except ValueError:
            continue
        if len(numbers) == 210:
            break
    s, k = np.zeros((20, 20)), 0
    for i in range(1, 20):
        for j in range(i):
            s[i, j] = s[j, i] = numbers[k]
            k += 1
    return s, np.array(numbers[190:210])


def rate_matrix(s, pi):
    q = s * pi[None, :]
    np.fill_diagonal(q, 0)
    np.fill_diagonal(q, -q.sum(1))
    return q / -(pi * np.diag(q)).sum()


def transitions(q, pi, times):
    """P(t) for every t of times, through the symmetric form's eigenvectors (n x 20 x 20)."""
    root = np.sqrt(pi)
    a = root[:, None] * q / root[None, :]
    lam, v = np.linalg.eigh((a + a.T) / 2)
    e = np.exp(lam[None, :] * np.asarray(times)[:, None])
    p = np.einsum("ik,tk,jk->tij", v, e, v) * (root[None, None, :] / root[None, :, None])
    return np.clip(p, 0, None)


def tree(rng, n, shape):
    """(parent of each node, branch length above it); leaves 0..n-1, the root last."""
    parent, length = [-1] * (2 * n - 1), [0.0] * (2 * n - 1)
    nxt = [n]

    def join(nodes, height, heights):
        u = nxt[0]
        nxt[0] += 1
        for c in nodes:
            parent[c], length[c] = u, height - heights[c]
        heights[u] = height
        return u

    heights = [0.0] * (2 * n - 1)

    def coalescent(leaves, depth):
        live, t = list(leaves), 0.0
        times = []
        while len(live) > 1:
            k = len(live)
            t += rng.exponential(2.0 / (k * (k - 1)))
            i, j = rng.choice(k, 2, replace=False)
            times.append((t, live[i], live[j]))
            u = join([live[i], live[j]], t, heights)
            live = [x for x in live if x not in (live[i], live[j])] + [u]
        scale = depth / max(t, 1e-9)
        return live[0], scale

    if shape == "coalescent":
        root, scale = coalescent(range(n), 1.0)
        for v in range(2 * n - 1):
            length[v] *= scale
        return parent, length
    if shape == "split":
        def split(leaves, top):
            if len(leaves) == 1:
                return leaves[0], top
            cut = rng.integers(1, len(leaves))
            a, ha = split(leaves[:cut], top)
            b, hb = split(leaves[cut:], top)
            h = max(ha, hb) + rng.exponential(0.08)
            return join([a, b], h, heights), h
        root, h = split(list(range(n)), 0)
        for v in range(2 * n - 1):
            length[v] /= h
        return parent, length
    # Three clades, each a coalescent, under long stems.
    sizes = np.diff(np.round(np.linspace(0, n, 4)).astype(int))
    tops, start = [], 0
    for size in sizes:
        leaves = list(range(start, start + size))
        start += size
        if size == 1:
            tops.append(leaves[0])
            continue
        r, scale = coalescent(leaves, 0.4)
        stack = [r]
        while stack:  # scale this clade's branches to a depth of 0.4
            v = stack.pop()
            for c in range(2 * n - 1):
                if parent[c] == v:
                    length[c] *= scale
                    stack.append(c)
        heights[r] = 0.4
        tops.append(r)
    ab = join(tops[:2], 0.4 + rng.uniform(0.3, 0.6), heights)
    join([ab, tops[2]], heights[ab] + rng.uniform(0.2, 0.5), heights)
    return parent, length


def family(rng, n, columns, shape, planted=0, alpha=0.5, invariant=0.15, depth=2.0, indels=0.05, subfamilies=4):
    s, base = wag_exchangeabilities()
    pi = rng.dirichlet(base * 60)  # the family's own frequencies, near WAG's
    q = rate_matrix(s, pi)
    parent, length = tree(rng, n, shape)
    nodes = 2 * n - 1
    length = np.array(length) * depth
    rates = rng.gamma(alpha, 1 / alpha, columns) * (rng.random(columns) >= invariant)
    # The rates in 48 bins of equal count (each bin at its mean), for P(t) per branch and bin.
    order = np.argsort(rates)
    bins = np.array_split(order, 48)
    state = np.zeros((nodes, columns), dtype=int)
    state[nodes - 1] = rng.choice(20, columns, p=pi)
    children = [[] for _ in range(nodes)]
    for v in range(nodes - 1):
        children[parent[v]].append(v)
    bin_rate = np.array([rates[b].mean() if len(b) else 0 for b in bins])
    for v in range(nodes - 1, n - 1, -1):
        for c in children[v]:
            p = transitions(q, pi, bin_rate * length[c])
            for k, cols in enumerate(bins):
                cum = np.cumsum(p[k][state[v, cols]], axis=1)
                state[c, cols] = np.minimum((rng.random(len(cols))[:, None] > cum).sum(1), 19)
    gap = np.zeros((nodes, columns), dtype=bool)
    for v in range(nodes - 2, -1, -1):  # deletions inherited from the parent, and new ones
        gap[v] = gap[parent[v]]
        for _ in range(rng.poisson(indels * length[v] * columns / 10)):
            at = rng.integers(columns)
            gap[v, at:at + rng.geometric(1 / 3)] = True
    truth = []
    if planted:
        # The subfamilies: the tree cut into `subfamilies` clades, the largest split at its root each time.
        def leaves_below(t):
            stack, leaves = [t], []
            while stack:
                v = stack.pop()
                (leaves.append(v) if v < n else stack.extend(children[v]))
            return leaves
        tops = [nodes - 1]
        while len(tops) < subfamilies:
            big = max((t for t in tops if t >= n), key=lambda t: len(leaves_below(t)), default=None)
            if big is None:
                break
            tops.remove(big)
            tops.extend(children[big])
        below = {t: leaves_below(t) for t in tops}
        truth = sorted(rng.choice(columns, planted, replace=False).tolist())
        for col in truth:
            residues = rng.choice(20, len(tops), replace=len(tops) > 20)
            for t, r in zip(tops, residues):
                state[below[t], col] = r
                gap[below[t], col] = False
    rows = ["".join("-" if gap[p, c] else ORDER[state[p, c]] for c in range(columns)) for p in range(n)]
    return rows, [c + 1 for c in truth]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("out")
    ap.add_argument("--families", type=int, default=10)
    ap.add_argument("--proteins", default="50,200")
    ap.add_argument("--columns", type=int, default=300)
    ap.add_argument("--shape", default="coalescent", choices=["coalescent", "split", "clades"])
    ap.add_argument("--alpha", type=float, default=0.5)
    ap.add_argument("--invariant", type=float, default=0.15)
    ap.add_argument("--planted", type=int, default=0)
    ap.add_argument("--subfamilies", type=int, default=4)
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    rng = np.random.default_rng(a.seed)
    lo, hi = map(int, a.proteins.split(","))
    os.makedirs(a.out, exist_ok=True)
    for f in range(a.families):
        n = int(rng.integers(lo, hi + 1))
        rows, truth = family(rng, n, a.columns, a.shape, a.planted, a.alpha, a.invariant, subfamilies=a.subfamilies)
        name = f"{a.shape}_{f + 1}"
        with open(os.path.join(a.out, name + ".fa"), "w") as out:
            out.write("".join(f">s{i + 1}\n{r}\n" for i, r in enumerate(rows)))
        if a.planted:
            open(os.path.join(a.out, name + ".truth"), "w").write("".join(f"{c}\n" for c in truth))


if __name__ == "__main__":
    main()
