#!/bin/sh
# Times whole runs of the benchmark targets: wall seconds and peak memory,
# for one binary or two side by side (each run of the second follows the
# same run of the first).
#   bench/run_whole.sh [path/to/vorn [path/to/other/vorn]]
# VORN_BENCH_LONG=1 adds 3000 x 259 -S=100 and -S=1000 and, where HMMER's
# hmmemit is installed, the 10,000- and 30,000-sequence families (emitted as
# the shipped ones were; the 30,000 run needs about 4 GB). VORN_BENCH_WEIGHTS=1
# times the first binary without and with -W instead, each run three times.
# Every run of the first binary must stay within its memory bound, n sequences
# of L columns with s permutations: 4 n^2 bytes raw, 6 n^2 with -S, 2 n^2 more
# with -W, plus 32 n L + 4 s n + 16 s L + 8 MB; a run beyond it is marked OVER
# and the script exits 1.
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
over=0
# The memory bound in KB of a run of n x L with s permutations (w: -W).
bound_kb() {
  n=$1 len=$2 s=$3 w=$4
  sq=$(( (s > 0 ? 6 : 4) + (w ? 2 : 0) ))
  echo $(( (sq * n * n + 32 * n * len + 4 * s * n + 16 * s * len) / 1024 + 8192 ))
}
time_one() {
  /usr/bin/time -f "%e %M" -o "$tmp/t" env PATH="$tmp/bin:$PATH" "$@" > /dev/null 2>&1
  read -r secs kb < "$tmp/t"
  printf '%7.2f s %6d MB' "$secs" $((kb / 1024))
}
# The first binary's peak against the bound of n x 259 (from the file name's N).
checked() {
  case "$1" in *N[0-9]*.fa) ;; *) return 0 ;; esac
  n=$(grep -c '^>' "$1"); s=0; w=0
  for o in "$@"; do
    case "$o" in -S=*) s=${o#-S=} ;; -W) w=1 ;; esac
  done
  limit=$(bound_kb "$n" 259 "$s" "$w")
  if [ "$kb" -gt "$limit" ]; then printf ' OVER %d MB' $((limit / 1024)); over=1; fi
}
run() {
  label=$1; shift
  printf '%-30s' "$label"
  time_one "$vorn" "$@"
  checked "$@"
  if [ -n "$other" ]; then printf '   |'; time_one "$other" "$@"; fi
  echo
}
if [ "${VORN_BENCH_WEIGHTS:-0}" = 1 ]; then
  for n in 1000 3000; do
    for opts in "" "-S=100"; do
      for k in 1 2 3; do
        printf '%-30s' "$n x 259 ${opts:-raw} ($k)"
        time_one "$vorn" "$data/large/Pkinase_emit_N$n.fa" "$mat" $opts
        checked "$data/large/Pkinase_emit_N$n.fa" $opts
        printf '   | -W'
        time_one "$vorn" "$data/large/Pkinase_emit_N$n.fa" "$mat" $opts -W
        checked "$data/large/Pkinase_emit_N$n.fa" $opts -W
        echo
      done
    done
  done
  exit $over
fi
run "1000 x 259, raw"            "$data/large/Pkinase_emit_N1000.fa" "$mat"
run "3000 x 259, raw"            "$data/large/Pkinase_emit_N3000.fa" "$mat"
run "3000 x 259, raw, Pearson"   "$data/large/Pkinase_emit_N3000.fa" "$mat" -N
run "200 x 259, -S=1000"         "$tmp/N200.fa" "$mat" -S=1000
run "1000 x 259, -S=100"         "$data/large/Pkinase_emit_N1000.fa" "$mat" -S=100
run "3000 x 259, -W"             "$data/large/Pkinase_emit_N3000.fa" "$mat" -W
run "1000 x 259, -W -S=100"      "$data/large/Pkinase_emit_N1000.fa" "$mat" -W -S=100
if [ "${VORN_BENCH_LONG:-0}" = 1 ]; then
  run "3000 x 259, -S=100"       "$data/large/Pkinase_emit_N3000.fa" "$mat" -S=100
  run "3000 x 259, -S=1000"      "$data/large/Pkinase_emit_N3000.fa" "$mat" -S=1000
  if command -v hmmemit >/dev/null; then
    for n in 10000 30000; do
      python3 "$here/emit_family.py" "$data/large/Pkinase.hmm" $n > "$tmp/N$n.fa"
      run "$n x 259, raw"         "$tmp/N$n.fa" "$mat"
    done
  fi
fi
exit $over
