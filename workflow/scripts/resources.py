"""What one vorn run needs: its memory, as vorn's own allocation plan gives it (vorn --plan), and its time,
from the size of its family."""
import gzip
import io
import re

MARGIN = 1.3        # on the memory estimate
BASE_MB = 150       # the process, its threads and libraries


def open_text(path):
    """An alignment file, gzipped or not (vorn reads both)."""
    with open(path, "rb") as f:
        gzipped = f.read(2) == b"\x1f\x8b"
    return gzip.open(path, "rt", errors="replace") if gzipped else open(path, errors="replace")


def read_families(path):
    """Every family of an alignment file, read once: a list of (name, sequences, columns, alignment). The name is
    the Stockholm family's #=GF ID (else AC, else its number) and the alignment its Biopython object, for files
    of several families; None for the other files. Stockholm and Clustal files are read with Biopython's
    Bio.AlignIO; HSSP files by their header; '>' files (FASTA, A3M, A2M, whose rows may differ in length) by their
    headers and the first row's match states (upper-case letters and '-')."""
    with open_text(path) as f:
        head = f.readline()
        while head and not head.strip():
            head = f.readline()
        if head.startswith("HS"):  # HSSP: the header says it
            nalign = seqlength = 0
            for line in f:
                if line.startswith("SEQLENGTH"):
                    seqlength = int(line.split()[1])
                elif line.startswith("NALIGN"):
                    nalign = int(line.split()[1])
                elif line.startswith("## PROTEINS"):
                    break
            return [(None, nalign + 1, seqlength, None)]
        if head.startswith(">") or head.startswith("#") and not head.startswith("# STOCKHOLM"):
            n, length = int(head.startswith(">")), 0
            for line in f:
                if line.startswith(">"):
                    n += 1
                elif n == 1:
                    length += sum(1 for c in line if c.isupper() or c == "-")
            return [(None, n, length, None)]
        from Bio import AlignIO
        form = "stockholm" if head.startswith("# STOCKHOLM") else "clustal"
        text = head + f.read()
    # The family names from the text (Biopython keeps no #=GF line), the alignments from Bio.AlignIO.
    names = []
    for block in re.split(r"(?m)^//.*$", text):
        if block.strip():
            ids = dict(m.groups() for m in re.finditer(r"(?m)^#=GF (ID|AC)\s+(\S+)", block))
            names.append(ids.get("ID") or ids.get("AC") or str(len(names) + 1))
    found = []
    try:
        for name, alignment in zip(names, AlignIO.parse(io.StringIO(text), form)):
            found.append((name, len(alignment), alignment.get_alignment_length(), alignment))
    except Exception:  # a file Biopython cannot read: vorn's own run says what is wrong with it
        return [(None, 0, 0, None)]
    if len(found) == 1:
        found = [(None, found[0][1], found[0][2], None)]
    return found


def family_size(path):
    """(sequences, columns) of a file of one family."""
    _, n, length, _ = read_families(path)[0]
    return n, length


def shuffles(options):
    m = re.search(r"(?:^|\s)-S.(\d+)", options)
    return int(m.group(1)) if m else 0


def memory_mb(vorn, path, matrix, options=""):
    """Peak resident memory of a run, in MB, with the margin: what vorn's own allocation plan asks for
    (vorn --plan), plus the process. None when vorn cannot plan the run (its own run then says why)."""
    import shlex
    import subprocess

    try:
        p = subprocess.run([vorn, "--plan", path, matrix, *shlex.split(options)], capture_output=True, text=True)
    except OSError:
        return None
    plan = dict(line.split("\t", 1) for line in p.stdout.splitlines() if "\t" in line)
    if p.returncode != 0 or "memory_bytes" not in plan:
        return None
    return int(BASE_MB + MARGIN * int(plan["memory_bytes"]) / 2**20)


def work_seconds(n, length, options=""):
    """Seconds of work of a run on one core: pair-columns at 2 ns, each permutation's at 0.5 ns (4 ns with -W)."""
    pairs = n * (n - 1) / 2
    per_random = 4e-9 if re.search(r"(?:^|\s)-W", options) else 5e-10
    return pairs * length * (2e-9 + shuffles(options) * per_random)


def runtime_minutes(n, length, options=""):
    """Minutes for a run on 2 cores, generously: three times its work, with a floor of ten minutes."""
    return int(10 + 3 * work_seconds(n, length, options) / 60)
