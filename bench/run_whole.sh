#!/bin/sh
# Times whole runs of the benchmark targets: wall seconds and peak memory,
# for one binary or two side by side (each run of the second follows the
# same run of the first).
#   bench/run_whole.sh [path/to/vorn [path/to/other/vorn]]
# VORN_BENCH_LONG=1 adds 3000 x 259 -S=100 and, where HMMER's hmmemit is
# installed, the 10,000- and 30,000-sequence families (emitted as the shipped
# ones were; the 30,000 run needs about 9 GB). VORN_BENCH_WEIGHTS=1 times the
# first binary without and with -W instead, each run three times.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
vorn=${1:-$here/../build/vorn}
other=${2:-}
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
time_one() {
  /usr/bin/time -f "%e %M" -o "$tmp/t" env PATH="$tmp/bin:$PATH" "$@" > /dev/null 2>&1
  read -r secs kb < "$tmp/t"
  printf '%7.2f s %6d MB' "$secs" $((kb / 1024))
}
run() {
  label=$1; shift
  printf '%-30s' "$label"
  time_one "$vorn" "$@"
  if [ -n "$other" ]; then printf '   |'; time_one "$other" "$@"; fi
  echo
}
if [ "${VORN_BENCH_WEIGHTS:-0}" = 1 ]; then
  for n in 1000 3000; do
    for opts in "" "-S=100"; do
      for k in 1 2 3; do
        printf '%-30s' "$n x 259 ${opts:-raw} ($k)"
        time_one "$vorn" "$data/large/Pkinase_emit_N$n.fa" "$mat" $opts
        printf '   | -W'
        time_one "$vorn" "$data/large/Pkinase_emit_N$n.fa" "$mat" $opts -W
        echo
      done
    done
  done
  exit 0
fi
run "1000 x 259, raw"            "$data/large/Pkinase_emit_N1000.fa" "$mat"
run "3000 x 259, raw"            "$data/large/Pkinase_emit_N3000.fa" "$mat"
run "3000 x 259, raw, Pearson"   "$data/large/Pkinase_emit_N3000.fa" "$mat" -N
run "200 x 259, -S=1000"         "$tmp/N200.fa" "$mat" -S=1000
run "1000 x 259, -S=100"         "$data/large/Pkinase_emit_N1000.fa" "$mat" -S=100
if [ "${VORN_BENCH_LONG:-0}" = 1 ]; then
  run "3000 x 259, -S=100"       "$data/large/Pkinase_emit_N3000.fa" "$mat" -S=100
  if command -v hmmemit >/dev/null; then
    for n in 10000 30000; do
      python3 "$here/emit_family.py" "$data/large/Pkinase.hmm" $n > "$tmp/N$n.fa"
      run "$n x 259, raw"         "$tmp/N$n.fa" "$mat"
    done
  fi
fi
