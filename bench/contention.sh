#!/bin/sh
# vorn on a machine other work keeps busy: N busy competitors (N = cores,
# each a shell loop), and the same runs with nothing else running. Each run
# with the default threads and with -T=1, interleaved (default, -T=1, default,
# ...), five rounds; the medians of wall seconds, as a Markdown table.
#   bench/contention.sh [path/to/vorn]     (VORN_BENCH_ROUNDS=n for another count)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
vorn=${1:-$here/../build/vorn}
rounds=${VORN_BENCH_ROUNDS:-5}
data=$here/../../shared/data
mat=$data/matrices/raw_blosum62_tri.txt
tmp=$(mktemp -d)
pids=""
trap 'for p in $pids; do kill "$p" 2>/dev/null || true; done; rm -rf "$tmp"' EXIT
cores=$(nproc)
secs() {
  /usr/bin/time -f "%e" -o "$tmp/t" "$@" > /dev/null 2>&1
  cat "$tmp/t"
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# One row: the medians of the default threads and of -T=1, and their ratio.
row() {
  label=$1; shift
  : > "$tmp/d"; : > "$tmp/one"
  i=0
  while [ "$i" -lt "$rounds" ]; do
    secs "$vorn" "$@" -R=1 -q >> "$tmp/d"
    secs "$vorn" "$@" -R=1 -q -T=1 >> "$tmp/one"
    i=$((i + 1))
  done
  d=$(median < "$tmp/d"); one=$(median < "$tmp/one")
  printf '| %s | %s | %.2f s | %.2f s | %.2f |\n' "$state" "$label" "$d" "$one" "$(echo "$d $one" | awk '{print $1 / $2}')"
}
runs() {
  for n in 1000 3000; do
    f=$data/large/Pkinase_emit_N$n.fa
    row "$n x 259, raw" "$f" "$mat"
    row "$n x 259, -S=100" "$f" "$mat" -S=100
    row "$n x 259, -W -S=100" "$f" "$mat" -W -S=100
    row "$n x 259, -B=1000" "$f" "$mat" -B=1000
  done
}
echo "cores: $cores; $rounds rounds; vorn: $("$vorn" --version | tail -1)"
echo
echo "| machine | run | default threads | -T=1 | ratio |"
echo "|---|---|---|---|---|"
state=quiet
runs
i=0
while [ "$i" -lt "$cores" ]; do
  sh -c 'while :; do :; done' &
  pids="$pids $!"
  i=$((i + 1))
done
state="$cores busy"
runs
