#!/bin/sh
# hmmalign's own outputs of one alignment: its Stockholm (insert columns
# marked by #=GC RF) and its A2M (upper case and '-' the match states) give
# byte-identical result lines.
# With a Python and check_exports.py, the exports of the Stockholm file too
# (addressed by the file's own columns, inserts included).
#   check_hmmalign.sh vorn family.sto matrix [python check_exports.py]    (exit 77: hmmer is missing)
set -eu
vorn=$1 sto=$2 matrix=$3 python=${4:-} exports=${5:-}
command -v hmmbuild >/dev/null && command -v hmmalign >/dev/null || { echo "skipped: no hmmer"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
hmmbuild -o /dev/null "$tmp/f.hmm" "$sto" >/dev/null
# The family's sequences, unaligned.
awk '/^#|^\/\/|^$/ {next} {s[$1] = s[$1] $2; if (!($1 in o)) { o[$1] = ++n; name[n] = $1 } }
     END { for (i = 1; i <= n; i++) { g = s[name[i]]; gsub(/[-.]/, "", g); print ">" name[i]; print toupper(g) } }' \
  "$sto" > "$tmp/seqs.fa"
hmmalign --outformat Stockholm "$tmp/f.hmm" "$tmp/seqs.fa" > "$tmp/a.sto"
hmmalign --outformat A2M "$tmp/f.hmm" "$tmp/seqs.fa" > "$tmp/a.a2m"
"$vorn" "$tmp/a.sto" "$matrix" > "$tmp/sto.out" 2> "$tmp/sto.err"
"$vorn" "$tmp/a.a2m" "$matrix" > "$tmp/a2m.out" 2> "$tmp/a2m.err"
grep -q "#=GC RF line of '$tmp/a.sto' marks [1-9][0-9]* of its" "$tmp/sto.err" || { echo "FAIL: no RF note"; cat "$tmp/sto.err"; exit 1; }
[ -s "$tmp/sto.out" ] || { echo "FAIL: no result lines"; exit 1; }
cmp "$tmp/sto.out" "$tmp/a2m.out" || { echo "FAIL: Stockholm with RF and its A3M reading differ"; exit 1; }
jalview=""; [ -x /usr/bin/jalview ] && jalview=--jalview
[ -z "$exports" ] || "$python" "$exports" "$vorn" "$tmp/a.sto" "$matrix" -S=20 -R=1 $jalview
echo "ok: $(wc -l < "$tmp/sto.out") result lines alike"
