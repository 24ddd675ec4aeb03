#!/usr/bin/env python3
"""Runs the Snakemake workflow on a folder of families and checks its summary.

check_workflow.py VORN WORKFLOW_DIR ALIGNMENT... -- exit status 77 (skipped)
when snakemake is not installed. Besides the given alignments the folder holds
a gzipped A3M file and a Stockholm file of two families (the first two
Stockholm files given), which must become two jobs. The summary's rows must be
each family's best scores as its own result lines give them, with the seed its
run recorded, the table's resnum and the run's reference sequence. A second
run adds a broken family: its "** " message must survive in its log, in
Snakemake's report and, with --keep-going, in the summary, which still holds
every other family. The index links every family's page with its best
columns; with a structures folder holding 1hpv_n25.pdb (pymol-data's 1hpv),
that family's page shows it in 3D.
"""
import csv
import re
import gzip
import html
import json
import os
import shutil
import subprocess
import sys
import tempfile

TOP = 4


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def best_from_lines(path):
    """(column, score text) of the TOP best real scores of a result-line file."""
    scored = []
    for line in open(path):
        t = line.split()
        score = t[t.index("xx") + 1]
        if float(score) >= -1:
            scored.append((-float(score), int(t[0]), score))
    scored.sort()
    return [(nr, s) for _, nr, s in scored[:TOP]]


def main():
    vorn, workflow, alignments = sys.argv[1], sys.argv[2], sys.argv[3:]
    snakemake = shutil.which("snakemake")
    if not snakemake:
        print("SKIP: snakemake is not installed")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as tmp:
        folder = os.path.join(tmp, "alignments")
        os.mkdir(folder)
        stockholm = [a for a in alignments if a.endswith(".sto")][:2]
        with open(os.path.join(folder, "pfam.sto"), "w") as f:
            for a in stockholm:
                f.write(open(a).read())
        for a in alignments:
            if a.endswith(".a3m"):
                target = os.path.join(folder, os.path.basename(a).replace(".a3m", "_a3m.a3m.gz"))
                with open(a, "rb") as src, gzip.open(target, "wb") as dst:
                    dst.write(src.read())
            elif a not in stockholm:
                shutil.copy(a, folder)
        with open(os.path.join(folder, "README.txt"), "w") as f:
            f.write("not an alignment: ignored\n")
        structures = os.path.join(tmp, "structures")
        os.mkdir(structures)
        pdb = "/usr/share/pymol/data/tut/1hpv.pdb"
        if os.path.exists(pdb):
            shutil.copy(pdb, os.path.join(structures, "1hpv_n25.pdb"))
        base = [snakemake, "-s", os.path.join(workflow, "Snakefile"), "--cores", "2", "--directory", tmp,
                "--config", f"vorn={vorn}", "options=-S=5", f"top={TOP}", f"structures={structures}"]
        dry = subprocess.run(base + ["--dry-run", "--quiet"], capture_output=True, text=True)
        if dry.returncode != 0:
            fail("dry run: " + dry.stdout[-800:] + dry.stderr[-800:])
        # A family too large for the memory allowed stops the workflow before anything runs.
        small = subprocess.run(base + ["max_mem_mb=100", "--dry-run"], capture_output=True, text=True)
        if small.returncode == 0 or "families larger than max_mem_mb=100" not in small.stdout + small.stderr:
            fail("max_mem_mb is not enforced: " + small.stdout[-300:] + small.stderr[-300:])
        run = subprocess.run(base, capture_output=True, text=True)
        if run.returncode != 0:
            fail("run: " + run.stderr[-1500:])
        with open(os.path.join(tmp, "results", "summary.tsv"), newline="") as f:
            rows = list(csv.DictReader(f, delimiter="\t"))
        families = sorted([os.path.basename(a).split(".")[0] + ("_a3m" if a.endswith(".a3m") else "")
                           for a in alignments if a not in stockholm] +
                          ["pfam_" + open(a).read().split("#=GF ID")[1].split()[0] for a in stockholm])
        if sorted({r["family"] for r in rows}) != families:
            fail(f"families in the summary: {sorted({r['family'] for r in rows})}")
        for fam in families:
            mine = [r for r in rows if r["family"] == fam]
            got = [(int(r["nr"]), r["KLB_VAL"]) for r in mine]
            want = best_from_lines(os.path.join(tmp, "results", fam, fam + ".scores"))
            if got != want:
                fail(f"{fam}: summary {got}, result lines {want}")
            if [int(r["rank"]) for r in mine] != list(range(1, len(mine) + 1)):
                fail(f"{fam}: ranks {[r['rank'] for r in mine]}")
            if any(r["Pval_pos"] == "" for r in mine):
                fail(f"{fam}: significance fields missing")
            with open(os.path.join(tmp, "results", fam, fam + ".tsv"), newline="") as f:
                resnum = {int(r["nr"]): r["resnum"] for r in csv.DictReader(f, delimiter="\t")}
            if [r["resnum"] for r in mine] != [resnum[int(r["nr"])] for r in mine]:
                fail(f"{fam}: resnum {[r['resnum'] for r in mine]} is not the table's")
            record = json.load(open(os.path.join(tmp, "results", fam, fam + ".json")))
            if {r["seed"] for r in mine} != {str(record["seed"])} or record["seed_from"] != "-R":
                fail(f"{fam}: seeds {[r['seed'] for r in mine]}, the run's {record['seed']}")
            if {r["reference"] for r in mine} != {record["reference"]} or not record["reference"]:
                fail(f"{fam}: reference {[r['reference'] for r in mine][:1]}, the run's {record['reference']}")
            for ext in ("tsv", "svg", "pml", "defattr", "html", "log"):
                if not os.path.getsize(os.path.join(tmp, "results", fam, f"{fam}.{ext}")):
                    fail(f"{fam}.{ext} is empty")
        index = open(os.path.join(tmp, "results", "index.html")).read()
        for fam in families:
            best = [r for r in rows if r["family"] == fam][0]
            label = (f"{best['chain']}:" if best["chain"] else "") + f"{best['aa']}{best['resnum']} {best['KLB_VAL']}"
            run = json.load(open(os.path.join(tmp, "results", fam, fam + ".json")))
            proteins = run["alignment"]["proteins"]
            if not all(html.escape(w.strip()) in index for w in run["warnings"]):
                fail(f"the index lacks {fam}'s warnings {run['warnings']}")
            if not re.search(f'<a href="{fam}/{fam}.html">{fam}</a></td><td>{proteins}</td>', index) or label not in index:
                fail(f"the index lacks {fam}'s page, its {proteins} proteins or its best column {label}")
        if os.path.exists(pdb) and "Structure '1hpv_n25.pdb'" not in open(
                os.path.join(tmp, "results", "1hpv_n25", "1hpv_n25.html")).read():
            fail("the structure of 1hpv_n25 is not on its page")
        if os.path.exists(pdb) and "1hpv_n25.pdb: 190 of 190 residues the same (100 %)" not in index:
            fail("the index lacks 1hpv_n25's structure and its residue check")
        # A family that fails keeps its message.
        with open(os.path.join(folder, "broken.fa"), "w") as f:
            f.write("AC\n>a\nAC\n")
        run = subprocess.run(base + ["--keep-going"], capture_output=True, text=True)
        log = open(os.path.join(tmp, "results", "broken", "broken.log")).read()
        message = "** Error: can't tell the form of alignment file"
        if run.returncode == 0 or message not in log or message not in run.stderr:
            fail("the broken family's message is lost: " + log[-300:])
        # ... and the summary still holds every other family, and the broken one with its message.
        with open(os.path.join(tmp, "results", "summary.tsv"), newline="") as f:
            after = list(csv.DictReader(f, delimiter="\t"))
        if [r for r in after if r["family"] != "broken"] != rows:
            fail("with --keep-going the summary of the families that succeeded changed or is missing")
        broken = [r for r in after if r["family"] == "broken"]
        if len(broken) != 1 or message not in broken[0]["error"]:
            fail(f"the summary does not list the broken family with its message: {broken}")
        if html.escape(message) not in open(os.path.join(tmp, "results", "index.html")).read():
            fail("the index does not name the broken family's message")
    print(f"ok: {len(rows)} summary rows for {len(families)} families")


if __name__ == "__main__":
    main()
