#!/bin/sh
# Mutation testing: applies each mutant of scripts/mutants.txt in turn,
# rebuilds, runs the whole suite and prints which mutants survive, after
# checking that the unmutated suite passes. A mutant
# of kind "behaviour" that survives names a fault no test would catch; one of
# kind "speed" changes no output and is expected to survive; one that does
# not build is reported apart (NOBUILD), never counted as killed.
#   scripts/mutants.sh [substring of mutant names]
# (VORN_MUTANTS=file reads the mutants from another file of the same form.)
# Builds in build-mutants/ and resumes from the verdicts kept there; each file is restored after its mutant, also on
# interruption. One to three minutes per mutant on two cores; not part of CI.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
exec python3 - "$top" "${1:-}" <<'PY'
import os, re, shutil, signal, subprocess, sys
top, only = sys.argv[1], sys.argv[2]
build = os.path.join(top, "build-mutants")
text = open(os.environ.get("VORN_MUTANTS", os.path.join(top, "scripts", "mutants.txt"))).read()
mutants = []
for block in re.split(r"^## ", text, flags=re.M)[1:]:
    lines = block.rstrip("\n").split("\n")
    m = {"name": lines[0], "old": [], "new": []}
    for l in lines[1:]:
        if l.startswith("file: "): m["file"] = l[6:]
        elif l.startswith("kind: "): m["kind"] = l[6:]
        elif l.startswith("-"): m["old"].append(l[1:])
        elif l.startswith("+"): m["new"].append(l[1:])
    m["old"], m["new"] = "\n".join(m["old"]), "\n".join(m["new"])
    if only in m["name"]: mutants.append(m)

LEFT_OUT = r"^workflow|^install[.]pip_package"
# A mutant of the workflow's own scripts is judged by the workflow's runs too.
WITH_WORKFLOW = r"^install[.]pip_package"
left_out = lambda m: WITH_WORKFLOW if m["file"].startswith("workflow/") else LEFT_OUT
SLOW = r"^(avx2|generic|active|passive)[.]|^page[.]browser|^python[.]module|SameBytesWhateverTheWay|TwoRunsInOneProcess"

def run(cmd):
    return subprocess.run(cmd, cwd=top, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

if run(["cmake", "-S", ".", "-B", build, "-DCMAKE_BUILD_TYPE=Release"]).returncode:
    sys.exit("configure failed")
pending = {}
def restore(*_):
    for path, original in pending.items():
        open(path, "w").write(original)
    pending.clear()
signal.signal(signal.SIGINT, lambda *a: (restore(), sys.exit(130)))
signal.signal(signal.SIGTERM, lambda *a: (restore(), sys.exit(143)))

# A red suite would count every mutant as killed: the unmutated tree must pass first.
if run(["cmake", "--build", build, "-j2"]).returncode:
    sys.exit("the unmutated tree does not build")
base = run(["ctest", "--test-dir", build, "-j2", "--timeout", "300", "-E",
            WITH_WORKFLOW if any(left_out(m) == WITH_WORKFLOW for m in mutants) else LEFT_OUT])
if base.returncode:
    sys.exit("the unmutated suite fails; fix it first:\n" + "\n".join(re.findall(r"\d+ - \S+ \(.*", base.stdout)))
print("baseline: the unmutated suite passes", flush=True)

# Verdicts are kept in build-mutants/verdicts.tsv, keyed by the mutant and the whole tree's state (sources and
# tests alike: a new test can kill a survivor, a removed one revive a kill), so that a run stopped part way resumes
# where it was and any change runs every mutant again.
import hashlib
head = run(["git", "rev-parse", "HEAD^{tree}"]).stdout + run(["git", "diff", "HEAD"]).stdout
kept_path = os.path.join(build, "verdicts.tsv")
kept = {}
if os.path.exists(kept_path):
    for line in open(kept_path):
        key, verdict, by = (line.rstrip("\n").split("\t") + [""])[:3]
        kept[key] = (verdict, by)

survivors, results = [], []
for m in mutants:
    path = os.path.join(top, m["file"])
    original = open(path).read()
    key = hashlib.sha1((m["name"] + "\0" + head + "\0" + m["old"] + "\0" + m["new"]).encode()).hexdigest()
    if key in kept:
        verdict, by = kept[key]
        results.append((verdict, m))
        if verdict == "SURVIVED" and m["kind"] != "speed": survivors.append(m["name"])
        print("%-9s %-8s %s%s (kept)" % (verdict, m["kind"], m["name"], (" (by " + by + ")") if by else ""), flush=True)
        continue
    if original.count(m["old"]) != 1:
        results.append(("STALE", m)); print("STALE     %s (its text is not in %s once)" % (m["name"], m["file"]), flush=True)
        continue
    pending[path] = original
    open(path, "w").write(original.replace(m["old"], m["new"]))
    try:
        built = run(["cmake", "--build", build, "-j2"]).returncode == 0
        if not built:
            # Not a kill: the mutant is broken, and says nothing about the tests.
            verdict, by = "NOBUILD", ""
        else:
            # The workflow's runs through Snakemake and Slurm test the scripts around vorn, not its code;
            # pip builds the same code again (the Python tests in the build tree run it).
            # The quick tests first, the slow ones (the browser, Python, the repeats on the other kernel paths
            # and wait policies, the runs compared across ways) only for a mutant that the quick ones miss.
            for pick in (["-E", left_out(m) + "|" + SLOW], ["-E", left_out(m), "-R", SLOW]):
                t = run(["ctest", "--test-dir", build, "-j2", "--timeout", "300", "--stop-on-failure"] + pick)
                if t.returncode: break
            failed = re.findall(r"\d+ - (\S+) \(", t.stdout)
            verdict, by = ("KILLED", ", ".join(failed[:3])) if t.returncode else ("SURVIVED", "")
    finally:
        restore()
    results.append((verdict, m))
    with open(kept_path, "a") as f:
        f.write("%s\t%s\t%s\n" % (key, verdict, by))
    if verdict == "SURVIVED" and m["kind"] != "speed": survivors.append(m["name"])
    print("%-9s %-8s %s%s" % (verdict, m["kind"], m["name"], (" (by " + by + ")") if by else ""), flush=True)
run(["cmake", "--build", build, "-j2"])
count = lambda verdict: sum(1 for v, m in results if v == verdict)
speed = sum(1 for v, m in results if m["kind"] == "speed" and v == "SURVIVED")
print("%d mutants: %d killed, %d survived (%d of them speed-only by design), %d did not build, %d stale"
      % (len(results), count("KILLED"), count("SURVIVED"), speed, count("NOBUILD"), count("STALE")))
if survivors:
    print("behaviour mutants that survived:\n  " + "\n  ".join(survivors))
broken = [m["name"] for v, m in results if v in ("NOBUILD", "STALE")]
if broken:
    print("mutants to mend (they test nothing as written):\n  " + "\n  ".join(broken))
sys.exit(1 if survivors or broken else 0)
PY
