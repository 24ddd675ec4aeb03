"""vorn from Python: the same run as the command line, its results as a pandas table.

    import vorn
    frame = vorn.score("fn3.fa", "blosum62", permutations=1000, seed=42)
    frame[frame.qval_pos <= 0.05]

Every value of the frame prints to the same text as the field of the table
that ``vorn ... -O=prefix`` writes (prefix.tsv) for the same run.
"""

from __future__ import annotations

import numbers
import os
import sys
import warnings
from collections import namedtuple

from typing import Any, Optional, Sequence, Union

import numpy as np
import pandas as pd

PathLike = Union[str, bytes, os.PathLike]
AlignmentLike = Union[str, bytes, os.PathLike, Sequence[Any], Any]  # a path, text, a MultipleSeqAlignment, sequences
MatrixLike = Union[str, bytes, os.PathLike, Any]  # a path, a shipped name, text, a Biopython matrix


def _load():
    """The native core, its worker threads sleeping when they wait, as the command line's do (libgomp reads the
    setting when it loads; a user's own OMP_WAIT_POLICY or GOMP_SPINCOUNT wins, and an interpreter that loaded
    libgomp before keeps its own)."""
    own = "OMP_WAIT_POLICY" not in os.environ and "GOMP_SPINCOUNT" not in os.environ
    if own:
        os.environ["OMP_WAIT_POLICY"] = "passive"
    try:
        from . import _vorn as core
    finally:
        if own:
            del os.environ["OMP_WAIT_POLICY"]
    return core


_vorn = _load()

__version__ = _vorn.__version__
Error = _vorn.Error  # a ValueError carrying the message the command line prints

__all__ = ["score", "write_report", "similarity", "read_alignment", "Error", "VornWarning", "Alignment", "Path", "matrices"]


class VornWarning(UserWarning):
    """A warning of a run (the command line's "** Warning" lines)."""


Alignment = namedtuple("Alignment", "names sequences form")


class Path(os.PathLike):
    """A file name given as bytes (a name that is not UTF-8, say): vorn.Path(b"fam\xe9.fa"). Plain bytes are the
    text of an input, not its name."""

    def __init__(self, name):
        if not isinstance(name, (str, bytes)):
            raise TypeError("vorn.Path takes str or bytes, not %s" % type(name).__name__)
        self.name = name

    def __fspath__(self):
        return self.name

    def __repr__(self):
        return "vorn.Path(%r)" % (self.name,)


def _path(value):
    """A path as the library takes it: its bytes, whatever their encoding (os.fsencode); NUL refused as open() does."""
    b = os.fsencode(value)
    if b"\0" in b:
        raise ValueError("embedded null byte")
    return b

_HERE = os.path.dirname(os.path.abspath(__file__))
_RESIDUES = "ACDEFGHIKLMNPQRSTVWY"  # the twenty vorn scores
_POLL = 0.1  # seconds between looks at Ctrl-C and the progress


def matrices() -> list:
    """The names of the shipped matrices, for matrix=."""
    return _vorn.matrices([_HERE])


def _text(value):
    return value.encode() if isinstance(value, str) else bytes(value)


def _alignment(alignment, given):
    """The alignment as a path vorn reads, adding in-memory text to given."""
    if alignment is None:
        raise TypeError("alignment must be a path, text, a MultipleSeqAlignment or a list of sequences, not None")
    if isinstance(alignment, os.PathLike) or isinstance(alignment, str) and "\n" not in alignment:
        return _path(alignment)
    if isinstance(alignment, (str, bytes, bytearray, memoryview)):
        given["alignment text"] = _text(alignment)
        return "alignment text"
    rows = []
    if hasattr(alignment, "get_alignment_length"):  # Bio.Align.MultipleSeqAlignment
        rows = [(record.id, str(record.seq)) for record in alignment]
        name = "MultipleSeqAlignment"
    else:
        name = "sequence list"
        for i, item in enumerate(alignment, start=1):
            if isinstance(item, str):
                rows.append(("seq%d" % i, item))
            elif hasattr(item, "seq"):  # a SeqRecord
                rows.append((item.id, str(item.seq)))
            elif isinstance(item, tuple) and len(item) == 2 and isinstance(item[0], str) and (
                    isinstance(item[1], str) or type(item[1]).__name__ == "Seq"):
                rows.append((item[0], str(item[1])))
            else:
                raise TypeError("sequence %d must be a str, a SeqRecord or a (name, sequence) pair of str, not %r"
                                % (i, item if item is None else type(item).__name__))
    for label, _ in rows:
        if not label or any(c.isspace() for c in label):
            raise Error("** Error: sequence name %r cannot name a row: give names without blanks." % label)
    given[name] = "".join(">%s\n%s\n" % row for row in rows).encode()
    return name


def _matrix(matrix, given):
    if isinstance(matrix, os.PathLike):
        return _path(matrix)
    if isinstance(matrix, str):
        # A shipped matrix's name is the library's to resolve (share_dirs).
        if "\n" in matrix:
            given["matrix text"] = _text(matrix)
            return "matrix text"
        return _path(matrix)
    if isinstance(matrix, (bytes, bytearray, memoryview)):
        given["matrix text"] = _text(matrix)
        return "matrix text"
    # A Biopython substitution matrix (Bio.Align.substitution_matrices.Array),
    # or any mapping m[a][b], as Raw lines "A R -1" of the twenty residues.
    alphabet = getattr(matrix, "alphabet", _RESIDUES)
    letters = [c for c in _RESIDUES if c in alphabet]
    lines = ["%s %s %r\n" % (a, b, float(matrix[a][b])) for i, a in enumerate(letters) for b in letters[: i + 1]]
    given["substitution matrix"] = "".join(lines).encode()
    return "substitution matrix"


def _weights(weights, given):
    """(weighted, weight file) for weights=None, "henikoff", a path or one weight per protein."""
    if weights is None:
        return False, None
    if isinstance(weights, str) and weights.lower() == "henikoff":
        return True, None
    if isinstance(weights, (str, os.PathLike)):
        return True, _path(weights)
    values = np.asarray(weights, dtype=float).ravel()
    given["weights"] = "".join("%d\t%r\n" % (i, float(w)) for i, w in enumerate(values, start=1)).encode()
    return True, "weights"


def _similarity(sim):
    """similarity= as a path, or as an array (its shape and values, row-major)."""
    if sim is None or isinstance(sim, (str, os.PathLike)):
        return (None if sim is None else _path(sim)), None
    return None, np.ascontiguousarray(sim, dtype=float)


def _name(value, what):
    """A name (a sequence's, a model's) as bytes: str in any encoding (surrogates as the bytes they stand for)."""
    if isinstance(value, bytes):
        return value
    if not isinstance(value, str):
        raise TypeError("%s must be a str, not %s" % (what, type(value).__name__))
    return value.encode("utf-8", "surrogateescape")


def _count(name, value, optional=False):
    """A whole number as the library takes it (its range is the library's check)."""
    if value is None and optional:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError("%s must be a whole number, not %s" % (name, type(value).__name__))
    return max(-2**63, min(2**63 - 1, int(value)))


def _settings(alignment, matrix, method="spearman", permutations=0, seed=None, weights=None, similarity=None,
              entropy=True, threads=None, reference=None, tree=0, tree_model="lg", structure=None, report=None,
              colours="grades"):
    if method not in ("spearman", "pearson"):
        raise Error("** Error: method must be 'spearman' or 'pearson', not %r." % (method,))
    given = {}
    d = dict(alignment=_alignment(alignment, given), matrix=_matrix(matrix, given), method=method,
             permutations=_count("permutations", permutations), tree=_count("tree", tree),
             seed=_count("seed", seed, True), threads=_count("threads", threads, True), entropy=bool(entropy),
             reference=None if reference is None else _name(reference, "reference"), given=given,
             tree_model=_name(tree_model, "tree_model"), colours=_name(colours, "colours"),
             structure=None if structure is None else _path(structure),
             report=None if report is None else _path(report),
             share_dirs=[_HERE])
    d["weighted"], d["weight_file"] = _weights(weights, given)
    d["similarity"], d["similarities"] = _similarity(similarity)
    return d


_STAGES = {1: "similarity", 2: "raw scores", 3: "random alignments"}


class _Bar:
    """A progress bar over the run's stages: tqdm where installed, else a line on stderr."""

    def __init__(self):
        try:
            from tqdm.auto import tqdm
        except ImportError:
            tqdm = None
        self.tqdm, self.bar, self.stage = tqdm, None, 0

    def show(self, stage, done, total):
        if stage == 0 or total <= 0:
            return
        if stage != self.stage:
            self.close()
            self.stage = stage
            if self.tqdm:
                self.bar = self.tqdm(total=total, desc="vorn: " + _STAGES[stage], leave=False)
        if self.bar is not None:
            self.bar.update(done - self.bar.n)
        else:
            sys.stderr.write("\rvorn: %s %d/%d " % (_STAGES[stage], done, total))
            sys.stderr.flush()

    def close(self):
        if self.bar is not None:
            self.bar.close()
        elif self.stage:
            sys.stderr.write("\n")
        self.bar = None


def _finish(settings, kind, progress):
    """Runs on vorn's own thread; this thread looks at Ctrl-C and the progress every _POLL seconds."""
    run = _vorn.Run(settings, kind)
    bar = _Bar() if progress else None
    try:
        while not run.wait(_POLL):
            if bar:
                bar.show(*run.meter())
    except BaseException:
        run.stop()
        while not run.wait(_POLL):
            pass
        raise
    finally:
        if bar:
            bar.close()
    if run.stopped_at_exit():  # the interpreter is ending: this thread ends quietly
        raise SystemExit
    out = run.scores() if kind == "scores" else run.similarity()
    for text in out[1]["warnings"]:
        warnings.warn(text, VornWarning, stacklevel=3)
    return out


def score(alignment: AlignmentLike, matrix: MatrixLike = "blosum62", *, method: str = "spearman",
          permutations: int = 0, seed: Optional[int] = None, weights: Any = None, similarity: Any = None,
          entropy: bool = True, threads: Optional[int] = None, progress: bool = False,
          reference: Optional[str] = None, tree: int = 0, tree_model: str = "lg", structure: Optional[PathLike] = None,
          report: Optional[PathLike] = None, colours: str = "grades") -> pd.DataFrame:
    """Scores every column of an alignment, as ``vorn alignment matrix [options]``.

    alignment: a path in any form vorn reads (gzip too), the text of such a
        file (str with a newline, or bytes), a Biopython MultipleSeqAlignment,
        or a list of (name, sequence) pairs, of SeqRecords or of sequences.
    matrix: a path, the name of a shipped matrix (see matrices()), the text of
        a matrix file, or a Biopython substitution matrix.
    method: "spearman" (default) or "pearson" (-N).
    permutations: n random permutations of the proteins (-S=n).
    seed: the permutations' seed (-R=n); without it the clock's seed is drawn
        and recorded in frame.attrs["seed"].
    weights: None, "henikoff" (-W), a weight file's path, or one weight per
        protein (-W=file).
    similarity: an n x n array of protein similarities, or a path (-M=file).
    entropy: False for -E. threads: worker threads (-T=n).
    reference: the sequence whose residues resnum numbers (-F=name).
    tree: n library columns of the tree null (-B=n): Zscr_tree, Pval_tree,
        qval_tree and m, how far each score exceeds what the tree explains;
        tree_model its replacement model (-L): "lg", "wag", "jtt" or "equal".
    structure: a PDB or mmCIF file (-P=file): the residue check (its
        sentence in frame.attrs["warnings"] where it fails) and the page's 3D view.
    report: a prefix (-O=prefix): writes prefix.tsv, .svg, .pml, .defattr,
        .json and the page prefix.html, as the command line does.
    colours: "grades" (default, safe for colour-blind eyes) or "classic" (-C).

    Returns a pandas.DataFrame, one row per result line, with the columns of
    the -O table; frame.attrs holds the record of the run. Raises vorn.Error
    with the command line's message; warnings come as VornWarning.
    """
    settings = _settings(alignment, matrix, method, permutations, seed, weights, similarity, entropy, threads,
                         reference, tree, tree_model, structure, report, colours)
    columns, record, kept = _finish(settings, "scores", progress)
    frame = pd.DataFrame(index=pd.RangeIndex(len(columns[0][1])))
    for name, values, missing in columns:  # the table's schema, in order
        frame[name] = values if missing is None else pd.arrays.IntegerArray(values, missing)
    record["command"] = " ".join(record["command"])
    frame.attrs.update(record, results=_Kept(kept))
    return frame


class _Kept:
    """The run's own results beside its frame, for write_report; the frame's copies share them."""

    def __init__(self, results):
        self.results = results

    def __deepcopy__(self, memo):
        return self

    def __repr__(self):
        return "<the results of this run, for vorn.write_report>"


def write_report(frame: pd.DataFrame, prefix: PathLike) -> None:
    """Writes the files -O=prefix writes (prefix.tsv, .svg, .pml, .defattr, .jalview, .json and the page
    prefix.html) for the run that made frame, as that run would have written them: from its results, whatever
    was done to the frame since. Raises vorn.Error where they cannot be written."""
    kept = frame.attrs.get("results")
    if not isinstance(kept, _Kept):
        raise TypeError("write_report takes a frame that vorn.score returned")
    for text in _vorn.write_report(kept.results, _path(prefix)):
        warnings.warn(text, VornWarning, stacklevel=2)


def similarity(alignment: AlignmentLike, matrix: MatrixLike = "blosum62", *, threads: Optional[int] = None) -> np.ndarray:
    """The similarity of every pair of proteins, as vorn scores them: an n x n
    numpy float32 array, symmetric, NaN on the diagonal."""
    settings = _settings(alignment, matrix, threads=threads)
    return _finish(settings, "similarity", False)[0]


def read_alignment(alignment: AlignmentLike) -> Alignment:
    """The alignment as vorn reads it: Alignment(names, sequences, form), one
    letter per column, '-' for gaps and for letters vorn reads as gaps."""
    settings = _settings(alignment, "blosum62")
    names, rows, form = _vorn.read_alignment(settings)
    return Alignment(names, rows, form)
