#!/bin/sh
# Times whole runs of the benchmark targets: wall seconds and peak memory.
#   bench/run_whole.sh [path/to/vorn]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
vorn=${1:-$here/../build/vorn}
data=$here/../../shared/data
mat=$data/matrices/raw_blosum62_tri.txt
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A fixed seed: a fake `date` first on PATH.
mkdir -p "$tmp/bin"
printf '#!/bin/sh\necho "Sun Dec  6 19:47:29 UTC 2026"\n' > "$tmp/bin/date"
chmod +x "$tmp/bin/date"
# 200 sequences: the first 200 of the 300 (each larger set starts with the smaller).
awk '/^>/{n++} n<=200' "$data/large/Pkinase_emit_N300.fa" > "$tmp/N200.fa"
echo "cores: $(nproc)"
run() {
  label=$1; shift
  /usr/bin/time -f "%e %M" -o "$tmp/t" env PATH="$tmp/bin:$PATH" "$vorn" "$@" > /dev/null 2>&1
  read -r secs kb < "$tmp/t"
  printf '%-44s %7.2f s %8d MB\n' "$label" "$secs" $((kb / 1024))
}
run "1000 x 259, raw"            "$data/large/Pkinase_emit_N1000.fa" "$mat"
run "3000 x 259, raw"            "$data/large/Pkinase_emit_N3000.fa" "$mat"
run "3000 x 259, raw, Pearson"   "$data/large/Pkinase_emit_N3000.fa" "$mat" -N
run "200 x 259, -S=1000"         "$tmp/N200.fa" "$mat" -S=1000
run "1000 x 259, -S=100"         "$data/large/Pkinase_emit_N1000.fa" "$mat" -S=100
if [ "${VORN_BENCH_LONG:-0}" = 1 ]; then
  run "3000 x 259, -S=100"       "$data/large/Pkinase_emit_N3000.fa" "$mat" -S=100
fi
