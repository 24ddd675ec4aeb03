#!/bin/sh
# Builds the fuzz targets with clang and runs each for a fixed time.
#   fuzz/run.sh [seconds per target (default 600)] [targets...]
# Seed corpora come from ../shared/data; findings land in fuzz/findings/.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$here/..
secs=${1:-600}
[ $# -gt 0 ] && shift
targets=${*:-"fuzz_matrix fuzz_alignment fuzz_simfile fuzz_pipe fuzz_structure"}
data=$top/../shared/data
VORN_FUZZ_DEPS=1 "$top/scripts/deps.sh"
# VORN_FUZZ_TESTS=ON builds the tests beside the targets, under the same sanitizers (CI runs them there).
# -O1 with line tables: the sanitizers' usual trade of speed for a build a third shorter, traces still with lines.
CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -DVORN_FUZZ=ON -DVORN_TESTS="${VORN_FUZZ_TESTS:-OFF}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" >/dev/null
cmake --build "$top/build-fuzz" -j >/dev/null
corpus=$top/fuzz/corpus-run
mkdir -p "$corpus" "$here/findings"
seed() {  # seed <target> <files...>
  d=$corpus/$1; mkdir -p "$d"; shift
  for f in "$@"; do [ -f "$f" ] && cp "$f" "$d/" 2>/dev/null || true; done
}
seed fuzz_matrix "$data"/matrices/*.txt "$data"/matrices/*.metric "$data"/bad/maxhom_* "$data"/bad/raw_* "$here"/regressions/fuzz_matrix/*
seed fuzz_alignment "$data"/families/globins4.fa "$data"/hssp/1a1p_n4.hssp "$data"/bad/edge_* "$data"/bad/fasta_crlf.fa \
  "$data"/bad/hssp_truncated_in_block.hssp "$data"/bad/hssp_nalign_0.hssp "$data"/bad/fasta_nul_bytes.fa "$here"/regressions/fuzz_alignment/*
for f in "$data"/simfiles/*.sim "$data"/bad/sim_*; do
  d=$corpus/fuzz_simfile; mkdir -p "$d"
  { printf 'b'; head -c 4000 "$f"; } > "$d/$(basename "$f")"
done
d=$corpus/fuzz_structure; mkdir -p "$d"  # the heads of a PDB and an mmCIF file
[ -f /usr/share/pymol/data/tut/1hpv.pdb ] && head -c 6000 /usr/share/pymol/data/tut/1hpv.pdb > "$d/1hpv.pdb"
gzip -dc "$top"/tests/data/1hpv_auth.cif.gz | head -c 6000 > "$d/1hpv.cif"
d=$corpus/fuzz_pipe; mkdir -p "$d"  # first byte: the alignment's length in units of 16 bytes
{ printf '\100'; head -c 1024 "$data"/families/globins4.fa; cat "$data"/matrices/raw_blosum62_tri.txt; } > "$d/globins_raw"
{ printf '\020'; gzip -c "$data"/hssp/1a1p_n4.hssp | head -c 256; cat "$data"/matrices/maxhom_blosum62.metric; } > "$d/hssp_maxhom"
before=$(ls "$here/findings" | wc -l)
for t in $targets; do
  echo "== $t: $secs s"
  "$top/build-fuzz/fuzz/$t" "$corpus/$t" -max_total_time="$secs" -max_len=20000 -rss_limit_mb=2048 \
    -artifact_prefix="$here/findings/$t-" -print_final_stats=1 2>&1 | grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)|^stat::|^==|SUMMARY|ERROR' || true
done
# A crash, a sanitizer report, a hang or a memory blow-up leaves a file in findings/.
after=$(ls "$here/findings" | wc -l)
if [ "$after" -gt "$before" ]; then
  echo "fuzz: $((after - before)) new finding(s) in $here/findings" >&2
  exit 1
fi
