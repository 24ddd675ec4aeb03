#!/bin/bash
# The workflow through a real scheduler: starts a one-node Slurm cluster on
# this machine (munge, slurmctld, slurmd, a generated slurm.conf for its cores
# and memory, no accounting), runs the workflow through the Snakemake 7 Slurm
# profile without USER in the environment, checks that every family ran as a
# Slurm job of its own, that summary.tsv equals a local run's and that index.html is written, and stops
# every daemon it started.
#   check_slurm.sh VORN WORKFLOW_DIR ALIGNMENT...   (exit 77: skipped)
set -u
vorn=$1 workflow=$2
shift 2
for tool in slurmctld slurmd munged sbatch squeue snakemake; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (Debian packages slurm-wlm, munge)"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "SKIP: the Slurm daemons are started as root"; exit 77; }
case "$(snakemake --version)" in 7.*) ;; *) echo "SKIP: the Slurm run uses the Snakemake 7 profile"; exit 77 ;; esac

tmp=$(mktemp -d)
export SLURM_CONF=$tmp/slurm.conf
started_munge=""
fail() { echo "FAIL: $*"; exit 1; }
stop() {
  scontrol shutdown >/dev/null 2>&1
  for f in "$tmp/slurmd.pid" "$tmp/slurmctld.pid"; do
    pid=$(cat "$f" 2>/dev/null) || continue
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
    kill "$pid" 2>/dev/null
  done
  [ -n "$started_munge" ] && kill "$started_munge" 2>/dev/null
  rm -rf "$tmp"
}
trap stop EXIT

port=$((20000 + RANDOM % 20000))
host=$(hostname)
mem=$(( $(free -m | awk '/^Mem:/{print $2}') - 1024 ))
mkdir -p "$tmp/state" "$tmp/spool" /run/munge /var/lib/munge /var/log/munge
sed -e "s|@tmp@|$tmp|g; s|@host@|$host|g; s|@port1@|$((port + 1))|g; s|@port@|$port|g; s|@cpus@|$(nproc)|g; s|@mem@|$mem|g" \
  "$(dirname "$0")/../data/slurm_one_node.conf" > "$SLURM_CONF"
# A munged already running (a machine with Slurm of its own) is used as it is.
if ! munge -n 2>/dev/null | unmunge >/dev/null 2>&1; then
  [ -f /etc/munge/munge.key ] || mungekey -c -k /etc/munge/munge.key 2>/dev/null || fail "no munge key"
  munged -f 2>/dev/null || fail "munged does not start"
  started_munge=$(cat /run/munge/munged.pid 2>/dev/null)
fi
slurmctld || fail "slurmctld does not start: $(tail -3 "$tmp/slurmctld.log" 2>/dev/null)"
slurmd || fail "slurmd does not start: $(tail -3 "$tmp/slurmd.log" 2>/dev/null)"
for _ in $(seq 60); do sinfo -h -o %t 2>/dev/null | grep -q idle && break; sleep 0.5; done
sinfo -h -o %t | grep -q idle || fail "the node never became idle: $(tail -3 "$tmp/slurmctld.log")"

mkdir -p "$tmp/local/alignments" "$tmp/slurm"
stockholm=()
for a in "$@"; do
  case "$a" in *.sto) stockholm+=("$a") ;; *) cp "$a" "$tmp/local/alignments/" ;; esac
done
cat "${stockholm[@]}" > "$tmp/local/alignments/pfam.sto"  # several families in one file: one job each
cp -r "$tmp/local/alignments" "$tmp/slurm/"
config=(--config "vorn=$vorn" "options=-S=5" top=3)
snakemake -s "$workflow/Snakefile" --cores 2 --directory "$tmp/local" "${config[@]}" >"$tmp/local.log" 2>&1 ||
  fail "local run: $(tail -5 "$tmp/local.log")"
env -u USER snakemake -s "$workflow/Snakefile" --profile "$workflow/profiles/slurm-snakemake7" --directory "$tmp/slurm" \
  --max-status-checks-per-second 2 --latency-wait 5 "${config[@]}" >"$tmp/slurm.log" 2>&1
status=$?
[ $status = 0 ] || fail "Slurm run: $(tail -8 "$tmp/slurm.log")"
families=$(ls "$tmp/slurm/results" | grep -vc -e '^summary.tsv$' -e '^index.html$' -e '^split$')
jobs=$(grep -c "_job_complete: JobId=[0-9]* done" "$tmp/slurmctld.log")
[ "$jobs" -ge "$families" ] || fail "$jobs Slurm jobs for $families families"
cmp -s "$tmp/local/results/summary.tsv" "$tmp/slurm/results/summary.tsv" || fail "summary.tsv differs from the local run's"
[ -s "$tmp/slurm/results/index.html" ] || fail "no index.html"
echo "ok: $families families in $jobs Slurm jobs, the same summary as the local run"
