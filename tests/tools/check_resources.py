#!/usr/bin/env python3
"""The workflow's memory estimate (vorn --plan) against vorn's measured peak memory.

check_resources.py VORN WORKFLOW_DIR ALIGNMENT... -- for each alignment, raw
and with -S=2 (the random passes' room: more permutations cost time, not
memory), each also with -W: the peak resident memory (from /usr/bin/time)
must lie under the estimate, and the estimate must not ask for more than twice the need plus
the fixed base.
"""
import os
import subprocess
import sys
import tempfile


def main():
    vorn, workflow, alignments = sys.argv[1], sys.argv[2], sys.argv[3:]
    sys.path.insert(0, os.path.join(workflow, "scripts"))
    import resources

    if not os.path.exists("/usr/bin/time"):
        print("SKIP: /usr/bin/time is not installed")
        sys.exit(77)
    for path in alignments:
        n, length = resources.family_size(path)
        matrix = os.path.join(workflow, "..", "examples", "blosum62.raw")
        for options in ("", "-S=2 -R=1", "-W", "-W -S=2 -R=1"):
            with tempfile.NamedTemporaryFile() as t:
                subprocess.run(["/usr/bin/time", "-f", "%M", "-o", t.name, vorn, path, matrix, "-q"] + options.split(),
                               check=True, capture_output=True)
                peak_mb = int(open(t.name).read().split()[-1]) / 1024
            estimate = resources.memory_mb(vorn, path, matrix, options)
            print(f"{os.path.basename(path)} {n} x {length} {options or 'raw'}: peak {peak_mb:.0f} MB, "
                  f"estimate {estimate} MB")
            if not peak_mb <= estimate <= 2 * peak_mb + resources.BASE_MB:
                print("FAIL: the estimate does not fit the need")
                sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
