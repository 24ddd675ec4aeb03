# pip install . (and python3 -m build --no-isolation) over the same CMake build, through Debian's scikit-build:
# the Python package alone, for the interpreter that runs pip, without the command line's tests.
import sys

from skbuild import setup

setup(
    name="vorn",
    version="3.4",
    description="Columns of a protein family's alignment whose substitutions follow the family's similarity",
    packages=["vorn"],
    package_dir={"vorn": "python/vorn"},
    package_data={"vorn": ["py.typed", "matrices/*.raw"]},
    python_requires=">=3.9",
    install_requires=["numpy", "pandas"],
    cmake_args=["-DVORN_TESTS=OFF", "-DVORN_PYTHON_INSTALL_DIR=python", f"-DPython_EXECUTABLE={sys.executable}"],
    cmake_install_target="install-python",
)
