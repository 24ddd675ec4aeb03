#!/bin/sh
# Installs what building and testing vorn needs, on a Debian machine that lacks it.
# With --tests, also what the tests of the export files, the manual and the
# workflow use (pytest, Chromium, PyMOL, man, Snakemake, Biopython, Slurm, a
# notebook kernel, HMMER);
# without them those tests are skipped.
set -eu
need=""
command -v cmake >/dev/null 2>&1 || need="$need cmake"
command -v g++ >/dev/null 2>&1 || need="$need g++"
command -v make >/dev/null 2>&1 || need="$need make"
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
[ -f /usr/include/benchmark/benchmark.h ] || need="$need libbenchmark-dev"
[ -f /usr/include/zlib.h ] || need="$need zlib1g-dev"
[ -f /usr/include/nlohmann/json.hpp ] || need="$need nlohmann-json3-dev"
[ -x /usr/bin/python3 ] || need="$need python3"
# The Python module, for Debian's interpreter (where pandas and Biopython live).
[ -f /usr/include/pybind11/pybind11.h ] || need="$need pybind11-dev python3-pybind11"
[ -x /usr/bin/python3-config ] || need="$need python3-dev"
/usr/bin/python3 -c "import numpy, pandas" >/dev/null 2>&1 || need="$need python3-numpy python3-pandas"
# PAML's replacement models (LG, WAG, JTT), compiled into the tree null.
[ -f /usr/lib/paml/data/dat/lg.dat ] || need="$need paml"
# npm, for the 3D viewer that pages inline (web/package.json pins it).
command -v npm >/dev/null 2>&1 || need="$need npm"
if [ "${1:-}" = --tests ]; then
  /usr/bin/python3 -c "import pytest" >/dev/null 2>&1 || need="$need python3-pytest"
  /usr/bin/python3 -c "import tqdm" >/dev/null 2>&1 || need="$need python3-tqdm"
  /usr/bin/python3 -c "import matplotlib" >/dev/null 2>&1 || need="$need python3-matplotlib"
  /usr/bin/python3 -c "import nbclient, ipykernel" >/dev/null 2>&1 || need="$need python3-nbclient python3-ipykernel"
  command -v chromium >/dev/null 2>&1 || need="$need chromium"
  command -v snakemake >/dev/null 2>&1 || need="$need snakemake"
  command -v man >/dev/null 2>&1 || need="$need man-db"
  /usr/bin/python3 -c "import Bio" >/dev/null 2>&1 || need="$need python3-biopython"
  [ -x /usr/bin/pymol ] || need="$need pymol"
  [ -f /usr/share/pymol/data/tut/1hpv.pdb ] || need="$need pymol-data"
  command -v slurmctld >/dev/null 2>&1 || need="$need slurm-wlm munge"
  [ -x /usr/bin/time ] || need="$need time"
  command -v hmmalign >/dev/null 2>&1 || need="$need hmmer"
  [ -x /usr/bin/jalview ] || need="$need jalview"  # loads the .jalview exports headless
  # pip install . and python3 -m build --no-isolation over scikit-build
  /usr/bin/python3 -c "import skbuild, build, pip" >/dev/null 2>&1 || need="$need python3-skbuild python3-build python3-pip"
fi
if [ "${VORN_FUZZ_DEPS:-0}" = 1 ]; then
  command -v clang++ >/dev/null 2>&1 || need="$need clang"
  [ -d /usr/lib/llvm-14/lib/clang ] && ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need="$need libclang-rt-14-dev"
fi
if [ -n "$need" ]; then
  echo "installing:$need" >&2
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq $need >/dev/null
fi
# The pinned npm packages, exactly as the lock file has them: the viewer, and
# with --tests the browser driver of the page tests.
web="$(dirname "$0")/../web"
if [ "${1:-}" = --tests ]; then
  [ -d "$web/node_modules/playwright-core" ] && [ -d "$web/node_modules/3dmol" ] ||
    npm ci --prefix "$web" --no-audit --no-fund --loglevel=error
else
  [ -d "$web/node_modules/3dmol" ] || npm ci --prefix "$web" --omit=dev --no-audit --no-fund --loglevel=error
fi
