"""The Python module against the command line: the same run gives a frame whose
every value prints to the text of the CLI's TSV field, and the CLI's errors."""

import _thread
import gzip
import json
import os
import subprocess
import sys
import threading
import time

import numpy as np
import pandas as pd
import pytest
from Bio import AlignIO
from Bio.Align import substitution_matrices

import vorn

VORN = os.environ["VORN_BINARY"]
TOP = os.environ["VORN_SOURCE"]
FN3 = os.path.join(TOP, "tests/data/fn3.fa")
HSSP = os.path.join(TOP, "examples/1hpv_n25.hssp")
SIM = os.path.join(TOP, "examples/fn3.class2.sim")
BLOSUM = os.path.join(TOP, "examples/blosum62.raw")
LARGE = os.path.join(TOP, "../shared/data/large/Pkinase_emit_N1000.fa")
MEDIUM = os.path.join(TOP, "../shared/data/large/Pkinase_emit_N300.fa")

# The C conversion of each TSV column.
FORMATS = {"nr": "%d", "pdbn": "%d", "acc": "%d", "var": "%d", "resnum": "%d", "entrop": "%.3f", "KLB_VAL": "%.4f",
           "Zscr_pos": "%.4f", "Zscr_glob": "%.4f", "Pval_pos": "%e", "Pval_glob": "%e", "Pval_pos_p1": "%e",
           "qval_pos": "%e", "Zscr_tree": "%.4f", "Pval_tree": "%e", "qval_tree": "%e", "m": "%d", "grade": "%d",
           "insufficient": "%d"}


def cli(tmp_path, aln, *options, matrix=BLOSUM):
    prefix = str(tmp_path / "cli")
    p = subprocess.run([VORN, aln, matrix, "-O=" + prefix, *options], capture_output=True, text=True)
    assert p.returncode == 0, p.stdout + p.stderr
    with open(prefix + ".tsv") as f:
        return [line.rstrip("\n").split("\t") for line in f]


def assert_same(frame, table):
    header, rows = table[0], table[1:]
    assert list(frame.columns) == header
    assert len(frame) == len(rows) > 0
    for name, values in zip(header, zip(*rows)):
        for got, want in zip(frame[name], values):
            if name in FORMATS and (got is None or got is pd.NA or got != got):  # NaN or missing
                assert want in ("", "nan"), (name, want)
            else:
                text = FORMATS[name] % got if name in FORMATS else str(got)
                assert text == want, (name, text, want)


def fasta_pairs(path):
    return [(r.id, str(r.seq)) for r in AlignIO.read(path, "fasta")]


# (alignment argument, vorn.score options, CLI options on the file the argument holds)
CASES = [
    ("path", {}, []),
    ("path", {"method": "pearson", "entropy": False}, ["-N", "-E"]),
    ("path", {"permutations": 50, "seed": 7}, ["-S=50", "-R=7"]),
    ("path", {"weights": "henikoff", "permutations": 20, "seed": 3}, ["-W", "-S=20", "-R=3"]),
    ("path", {"similarity": SIM, "permutations": 20, "seed": 1}, ["-M=" + SIM, "-S=20", "-R=1"]),
    ("gzip", {"threads": 1}, ["-T=1"]),
    ("text", {"permutations": 19, "seed": 5, "method": "pearson"}, ["-S=19", "-R=5", "-N"]),
    ("bytes", {}, []),
    ("MultipleSeqAlignment", {"reference": "TENA_CHICK/1495-1571"}, ["-F=TENA_CHICK/1495-1571"]),
    ("pairs", {"weights": "henikoff"}, ["-W"]),
    ("path", {"tree": 300, "seed": 4}, ["-B=300", "-R=4"]),
    ("path", {"tree": 200, "similarity": SIM, "seed": 2, "method": "pearson"}, ["-B=200", "-M=" + SIM, "-R=2", "-N"]),
    ("path", {"tree": 200, "permutations": 20, "seed": 4, "weights": "henikoff"}, ["-B=200", "-S=20", "-R=4", "-W"]),
    ("hssp", {"permutations": 30, "seed": 2}, ["-S=30", "-R=2"]),  # two chains, structure numbers
]


@pytest.mark.parametrize("kind,options,flags", CASES)
def test_frame_prints_as_the_cli_table(tmp_path, kind, options, flags):
    (tmp_path / "fn3.fa.gz").write_bytes(gzip.compress(open(FN3, "rb").read()))
    arg = {"path": FN3, "gzip": str(tmp_path / "fn3.fa.gz"), "text": open(FN3).read(), "bytes": open(FN3, "rb").read(),
           "MultipleSeqAlignment": AlignIO.read(FN3, "fasta"), "pairs": fasta_pairs(FN3), "hssp": HSSP}[kind]
    assert_same(vorn.score(arg, BLOSUM, **options), cli(tmp_path, HSSP if kind == "hssp" else FN3, *flags))


def test_structure_report_and_write_report_write_what_the_cli_writes(tmp_path, monkeypatch):
    """report= and write_report write -O's files, page included, and structure= runs the residue check: the same
    bytes but for the lines that give the command. Both faces look for the viewer where VORN_SHARE says, so that
    the pages match whether or not it is installed."""
    monkeypatch.setenv("VORN_SHARE", os.path.join(os.path.dirname(VORN), "share", "vorn"))
    cif = os.path.join(TOP, "tests/data/1hpv_auth.cif.gz")
    prefix = str(tmp_path / "r")
    def files():
        out = {}
        for name in sorted(os.listdir(tmp_path)):
            with open(tmp_path / name, "rb") as f:
                out[name] = [l for l in f.read().split(b"\n") if HSSP.encode() not in l]
            os.remove(tmp_path / name)
        out["r.json"] = {k: v for k, v in json.loads(b"\n".join(out["r.json"])).items() if k != "command"}
        return out
    p = subprocess.run([VORN, HSSP, BLOSUM, "-S=20", "-R=3", "-P=" + cif, "-O=" + prefix, "-C=classic"], check=True,
                       capture_output=True, text=True)
    want = files()
    frame = vorn.score(HSSP, BLOSUM, permutations=20, seed=3, structure=cif, report=prefix, colours="classic")
    got = files()
    assert sorted(got) == ["r.defattr", "r.html", "r.jalview", "r.json", "r.pml", "r.svg", "r.tsv"] and got == want
    assert b"190 carry the same amino acid" in b"".join(got["r.html"])
    assert frame.attrs["warnings"] == [l for l in p.stderr.splitlines() if l.startswith("** Warning")]
    vorn.write_report(frame.sort_values("KLB_VAL").head(3), prefix)  # the run's files, whatever became of the frame
    assert files() == want


def test_matrices_are_those_runs_find(tmp_path, monkeypatch):  # the shipped ones: the install tests
    (tmp_path / "matrices").mkdir()
    (tmp_path / "matrices" / "mine.raw").write_text("")
    monkeypatch.setenv("VORN_SHARE", str(tmp_path))
    assert vorn.matrices() == ["mine"]


def test_data_arguments_equal_their_files(tmp_path):
    """Plain sequences, weights and similarities as Python data, a Biopython matrix."""
    rows = fasta_pairs(FN3)
    unnamed = tmp_path / "unnamed.fa"
    unnamed.write_text("".join(">seq%d\n%s\n" % (i, s) for i, (_, s) in enumerate(rows, 1)))
    assert_same(vorn.score([s for _, s in rows], BLOSUM), cli(tmp_path, str(unnamed)))
    w = [1 + (i % 7) / 3 for i in range(len(rows))]
    wfile = tmp_path / "w.tsv"
    wfile.write_text("".join("%d\t%r\n" % (i, x) for i, x in enumerate(w, 1)))
    assert_same(vorn.score(FN3, BLOSUM, weights=w), cli(tmp_path, FN3, "-W=" + str(wfile)))
    sim = np.full((len(rows), len(rows)), np.nan)
    for line in open(SIM):
        i, j, v = line.split("\t")
        sim[int(i) - 1, int(j) - 1] = sim[int(j) - 1, int(i) - 1] = float(v)
    assert_same(vorn.score(FN3, BLOSUM, similarity=sim), cli(tmp_path, FN3, "-M=" + SIM))
    assert_same(vorn.score(FN3, substitution_matrices.load("BLOSUM62")), cli(tmp_path, FN3))


def test_similarity_and_alignment_as_read(tmp_path):
    p = subprocess.run([VORN, FN3, BLOSUM, "-1"], capture_output=True, text=True)
    lines = p.stdout.split("Sim. matrix:\n")[1].splitlines()
    pairs = [line.split("\t") for line in lines if line.count("\t") == 2]
    sim = vorn.similarity(FN3)
    assert sim.dtype == np.float32 and sim.shape == (98, 98) and np.isnan(np.diag(sim)).all()
    assert len(pairs) == 98 * 97 // 2
    assert all("%f" % sim[int(i) - 1, int(j) - 1] == v for i, j, v in pairs)
    a3m = vorn.read_alignment(os.path.join(TOP, "../shared/data/families/fn3.a3m"))
    match = vorn.read_alignment(os.path.join(TOP, "../shared/data/families/fn3_match.fa"))
    assert a3m.form == "a3m" and a3m.sequences == match.sequences and a3m.names == match.names


# (vorn.score arguments, CLI arguments): the CLI's message, raised
BAD = [
    (["/no/such.fa"], ["/no/such.fa", BLOSUM]),
    ([">a\nACDE\n>b\nAC\n>c\nACD\n"], None),
    ([FN3, "A A 0\n"], None),
    ([FN3, os.path.join(TOP, "../shared/data/bad/random_bytes.bin")],
     [FN3, os.path.join(TOP, "../shared/data/bad/random_bytes.bin")]),
    ([FN3, BLOSUM, {"similarity": os.path.join(TOP, "../shared/data/bad/sim_fn3_missing_pairs.sim")}],
     [FN3, BLOSUM, "-M=" + os.path.join(TOP, "../shared/data/bad/sim_fn3_missing_pairs.sim")]),
    ([FN3, BLOSUM, {"weights": [0] * 98}], None),
    ([FN3, BLOSUM, {"reference": "nobody"}], [FN3, BLOSUM, "-F=nobody"]),
]


@pytest.mark.parametrize("args,cli_args", BAD)
def test_errors_raise_the_cli_message(args, cli_args):
    options = args.pop() if isinstance(args[-1], dict) else {}
    with pytest.raises(vorn.Error) as e:
        vorn.score(*args, **options)
    assert isinstance(e.value, ValueError) and "** " in str(e.value)
    if cli_args:
        p = subprocess.run([VORN, *cli_args], capture_output=True, text=True)
        assert p.returncode == 1 and str(e.value) == p.stdout.strip("\n")


# (vorn.score options, the exception, the start of its one-line message)
ARGUMENTS = [
    ({"permutations": 10.5}, TypeError, "permutations must be a whole number, not float"),
    ({"tree": "10"}, TypeError, "tree must be a whole number, not str"),
    ({"seed": True}, TypeError, "seed must be a whole number, not bool"),
    ({"permutations": -1}, vorn.Error, "** Invalid 'nsuffl' (-1)"),
    ({"seed": 2**40}, vorn.Error, "** Invalid seed (1099511627776): it must fit a 32-bit integer."),
    ({"threads": 300}, vorn.Error, "** Invalid number of threads (300): give a number from 1 to 256."),
    ({"similarity": np.zeros((100, 100))}, vorn.Error, "** Error: similarity= has the shape 100 x 100, but"),
    ({"similarity": np.where(np.arange(98 * 98).reshape(98, 98) == 3 * 98 + 5, np.nan, 1.0)}, vorn.Error,
     "** Error: similarity=[3, 5] is nan"),
    ({"permutations": 2**70}, vorn.Error, "** Invalid 'nsuffl' ("),
    ({"reference": 7}, TypeError, "reference must be a str"),
    ({"weights": "/no\0such"}, ValueError, "embedded null byte"),
    ({"alignment": ["ACDE", None]}, TypeError, "sequence 2 must be a str"),
    ({"alignment": b"\x01" * (2 << 20)}, vorn.Error, "** Error: 'alignment text' is not a text file"),
]


@pytest.mark.parametrize("options,kind,message", ARGUMENTS)
def test_bad_arguments_raise_one_line(options, kind, message):
    with pytest.raises(kind) as e:
        vorn.score(options.pop("alignment", FN3), BLOSUM, **options)
    assert str(e.value).startswith(message) and "\n" not in str(e.value), str(e.value)[:300]


def test_paths_that_are_not_utf8_and_an_exit_during_a_run(tmp_path):
    name = os.path.join(os.fsencode(tmp_path), b"fam\xe9.fa")
    with open(name, "wb") as f:
        f.write(open(FN3, "rb").read())
    frame = vorn.score(os.fsdecode(name), BLOSUM)
    assert len(frame) == 77 and len(vorn.score(vorn.Path(name), BLOSUM)) == 77
    assert os.fsencode(frame.attrs["alignment"]) == b"fam\xe9.fa"
    # A run on a daemon thread when the interpreter ends: stopped and waited for, the exit status the program's own.
    script = ("import sys, threading, time, vorn\n"
              "threading.Thread(target=lambda: vorn.score(%r, permutations=3000, seed=1), daemon=True).start()\n"
              "time.sleep(0.5)\nsys.exit(3)\n" % LARGE)
    p = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert p.returncode == 3 and "terminate" not in p.stderr, p.stderr[-500:]


def test_the_record_repeats_the_run(tmp_path):
    frame = vorn.score(FN3, "blosum62", tree=100, seed=4, weights="henikoff", method="pearson")
    words = frame.attrs["command"].split()
    assert words[:3] == ["vorn", FN3, "blosum62"] and "-R=4" in words
    assert_same(frame, cli(tmp_path, FN3, *words[3:], matrix="blosum62"))


def test_warnings_and_a_quiet_notebook(capfd):
    with pytest.warns(vorn.VornWarning, match="holds 4 proteins"):
        vorn.score(os.path.join(TOP, "tests/data/globins4.fa"))
    with pytest.warns(vorn.VornWarning, match="no P-value can reach 0.05"):
        frame = vorn.score(FN3, permutations=5)
    assert frame.attrs["seed_source"] == "the clock" and isinstance(frame.attrs["seed"], int)
    again = vorn.score(FN3, permutations=5, seed=frame.attrs["seed"])
    assert again.equals(frame)
    vorn.score(MEDIUM, permutations=2000, seed=1, progress=True)  # about a second: polls see it
    out, err = capfd.readouterr()
    assert out == "" and "vorn: random alignments" in err


def test_two_threads_at_once_and_the_gil_released():
    want = [vorn.score(MEDIUM, permutations=100, seed=s) for s in (1, 2)]
    got, ticks = [None, None], [0]
    threads = [threading.Thread(target=lambda k=k: got.__setitem__(k, vorn.score(MEDIUM, permutations=100, seed=k + 1,
                                                                                    threads=1))) for k in (0, 1)]
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        ticks[0] += 1  # runs only while the calls leave the interpreter free
        time.sleep(0.001)
    # About 300 ticks when the calls wait without the GIL, a handful when they hold it.
    assert got[0].equals(want[0]) and got[1].equals(want[1]) and ticks[0] > 60, ticks


def test_ctrl_c_stops_a_long_call():
    threading.Timer(0.5, _thread.interrupt_main).start()
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        vorn.score(LARGE, permutations=5000, seed=1)
    assert time.monotonic() - start < 1.6  # 0.5 s, then about a second at most
    assert len(vorn.score(FN3)) == 77  # the interpreter is still usable


def test_notebook_runs(tmp_path):
    nbformat = pytest.importorskip("nbformat")
    nbclient = pytest.importorskip("nbclient")
    book = nbformat.read(os.path.join(TOP, "examples/walkthrough.ipynb"), as_version=4)
    assert all(not c.get("outputs") for c in book.cells if c.cell_type == "code")  # stored without outputs
    nbclient.NotebookClient(book, timeout=300, resources={"metadata": {"path": os.path.join(TOP, "examples")}}).execute()
    outputs = [o for c in book.cells for o in c.get("outputs", [])]
    assert not [o for o in outputs if o.output_type == "error"]
    text = "".join(o.get("text", "") + o.get("data", {}).get("text/plain", "") for o in outputs)
    lines = subprocess.run([VORN, HSSP, BLOSUM, "-S=1000", "-R=42"], capture_output=True, text=True).stdout
    assert "%d result lines" % len(lines.splitlines()) in text
    assert any("image/png" in o.get("data", {}) for o in outputs)  # the profile plot
    assert any("<iframe srcdoc=" in o.get("data", {}).get("text/html", "") for o in outputs)  # the page
