"""What one vorn run needs, from the size of its family: memory and time.

The memory follows vorn's allocation plan (README, "Large families"): the
similarity matrix and the pair vectors grow with the square of the number of
sequences n, the alignment with n times the columns L, and with -S=s the
permutation lanes, the rank square and the random scores come on top.
"""
import gzip
import re

MARGIN = 1.3        # on the memory estimate
BASE_MB = 150       # the process, its threads and libraries


def open_text(path):
    with open(path, "rb") as f:
        gzipped = f.read(2) == b"\x1f\x8b"
    return gzip.open(path, "rt", errors="replace") if gzipped else open(path, errors="replace")


def family_size(path):
    """(sequences, columns) of an alignment, read cheaply: an HSSP header, or
    the rows and the first row's length of the other forms."""
    n, length, first = 0, 0, None
    with open_text(path) as f:
        head = f.readline()
        if head.startswith("HS"):  # HSSP: the header says it
            nalign = seqlength = 0
            for line in [head] + list(f):
                if line.startswith("SEQLENGTH"):
                    seqlength = int(line.split()[1])
                elif line.startswith("NALIGN"):
                    nalign = int(line.split()[1])
                elif line.startswith("## PROTEINS"):
                    break
            return nalign + 1, seqlength
        if head.startswith(">") or head.startswith("#") and not head.startswith("# STOCKHOLM"):
            lines = [head] + list(f)
            for line in lines:
                if line.startswith(">"):
                    n += 1
                elif n == 1:
                    length += sum(1 for c in line if c.isupper() or c == "-")
            return n, length
        names = {}
        for line in [head] + list(f):  # Stockholm or Clustal: name and residues
            if line.startswith("//"):
                break
            t = line.split()
            if len(t) >= 2 and not line[0] in "# " and not line.startswith(("CLUSTAL", "MUSCLE", "PROBCONS")):
                names[t[0]] = names.get(t[0], 0) + len(t[1])
        return len(names), max(names.values(), default=0)


def shuffles(options):
    m = re.search(r"(?:^|\s)-S.(\d+)", options)
    return int(m.group(1)) if m else 0


def memory_mb(n, length, options=""):
    """Peak resident memory of a run, in MB, with the margin."""
    pairs = n * (n - 1) / 2
    s = shuffles(options)
    spearman = "-N" not in options.split()
    weighted = re.search(r"(?:^|\s)-W", options) is not None
    b = 4.0 * n * n + 12 * pairs + 6.0 * n * length          # similarities, pair vectors, alignment
    if s:
        b += 32 * pairs + 4.0 * s * (n + 3 * length) + 3600.0 * length
        b += 4.0 * n * n if spearman else 0
    if weighted:
        b += 16 * pairs + ((64 + (12 if spearman else 0)) * pairs if s else 0)
    return int(BASE_MB + MARGIN * b / 2**20)


def runtime_minutes(n, length, options=""):
    """Minutes for a run on 2 cores, generously: pair-columns at 2 ns, each
    permutation's at 0.5 ns (4 ns with -W), with a floor of ten minutes."""
    pairs = n * (n - 1) / 2
    per_random = 4e-9 if re.search(r"(?:^|\s)-W", options) else 5e-10
    seconds = pairs * length * (2e-9 + shuffles(options) * per_random)
    return int(10 + 3 * seconds / 60)
