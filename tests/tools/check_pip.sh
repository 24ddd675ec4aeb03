#!/bin/sh
# pip install . from a copy of the checkout (Debian's scikit-build, no build
# isolation) into a scratch prefix: the package imports from there, with its
# matrices, the type marker and the pages' viewer, and writes the page of a
# shipped example with its structure in 3D.
#   check_pip.sh source_dir    (exit 77: skipped without scikit-build or pip)
set -eu
src=$1
/usr/bin/python3 -c "import skbuild, pip" 2>/dev/null || { echo "SKIP: needs python3-skbuild and python3-pip"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A copy, so that the build's own folders stay out of the checkout.
tar -C "$src" --exclude=./.git --exclude='./build*' --exclude=./_skbuild -cf - . | { mkdir "$tmp/src"; tar -C "$tmp/src" -xf -; }
cd "$tmp/src"
# scikit-build runs make one job at a time unless told otherwise.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
/usr/bin/python3 -m pip install -q --no-build-isolation --no-deps --prefix "$tmp/prefix" . >"$tmp/pip.log" 2>&1 ||
  { tail -20 "$tmp/pip.log"; exit 1; }
site=$(find "$tmp/prefix" -name __init__.py -path '*/vorn/*' -exec dirname {} \; | xargs dirname)
cd "$tmp" && PYTHONPATH="$site" /usr/bin/python3 -c "
import os, sys, vorn
assert vorn.__file__.startswith(sys.argv[1] + '/'), vorn.__file__
assert vorn.matrices() == ['blosum45', 'blosum62', 'pam250'] and os.path.exists(os.path.join(os.path.dirname(vorn.__file__), 'py.typed'))
frame = vorn.score(sys.argv[2], structure=sys.argv[3])
vorn.write_report(frame, 'r')
assert len(frame) == 190 and 'id=\"viewer\"' in open('r.html').read()  # the page finds the viewer it ships
" "$site" "$src/examples/1hpv_n25.hssp" "$src/tests/data/1hpv_auth.cif.gz"
echo "ok: installed in $site"
