#!/bin/sh
# Installs the build into a scratch prefix and uses what was installed: the
# binary on a shipped example with each shipped matrix, the Python package and
# the manual page.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share/vorn
for f in bin/vorn share/man/man1/vorn.1 share/vorn/matrices/blosum62.raw share/vorn/matrices/blosum62.metric \
         share/vorn/matrices/blosum62.ncbi share/vorn/examples/fn3.fa share/vorn/workflow/Snakefile; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
# The three matrix forms hold the same BLOSUM62: the same result lines.
"$prefix/bin/vorn" "$share/examples/fn3.fa" "$share/matrices/blosum62.raw" 2>/dev/null >"$prefix/raw.out"
for m in blosum62.metric blosum62.ncbi; do
  "$prefix/bin/vorn" "$share/examples/fn3.fa" "$share/matrices/$m" 2>/dev/null | cmp - "$prefix/raw.out"
done
[ "$(wc -l <"$prefix/raw.out")" -eq 77 ] || { echo "unexpected result count"; exit 1; }
# The installed program finds the installed viewer (with its licence) for its pages.
if [ -f "$build/share/vorn/3Dmol-min.js" ]; then
  [ -f "$share/3Dmol.LICENSE" ] || { echo "not installed: the viewer's licence"; exit 1; }
  "$prefix/bin/vorn" "$share/examples/1hpv_n25.hssp" "$share/matrices/blosum62.raw" -O="$prefix/p" \
    -P="$(dirname "$0")/../data/1hpv_auth.cif.gz" >/dev/null 2>"$prefix/p.err"
  grep -q 'id="viewer"' "$prefix/p.html" || { echo "the installed program's page has no 3D view"; cat "$prefix/p.err"; exit 1; }
fi
# The Python package, where the cache says it goes, gives the same result lines.
pydir=$(sed -n 's/^VORN_PYTHON_INSTALL_DIR:STRING=//p' "$build/CMakeCache.txt")
if [ -n "$pydir" ] && [ -f "$build/python/vorn/__init__.py" ]; then
  PYTHONPATH="$prefix/$pydir" /usr/bin/python3 -c "
import sys, vorn
frame = vorn.score(sys.argv[1], 'blosum62')
assert vorn.__file__.startswith(sys.argv[2]), vorn.__file__
assert len(frame) == 77 and vorn.matrices() == ['blosum45', 'blosum62', 'pam250'], (len(frame), vorn.matrices())
" "$share/examples/fn3.fa" "$prefix"
fi
# The manual renders without a warning from groff or man.
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/vorn.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man: $warnings"; exit 1; }
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$prefix/share/man/man1/vorn.1" | grep -q "EXPORT FILES"
echo ok
