#!/usr/bin/env bash
# Times whole backup runs of the engine against `cp -a` and `rsync -a` on the
# same generated trees, in one run:
#   1. initial copy of 20,000 files (1 KiB to 1 MiB, log-uniform) in 500 folders,
#      engine vs cp -a;
#   2. re-run with nothing changed, engine vs rsync -a;
#   3. re-run with nothing changed over 10,000 and over 100,000 files in one
#      folder: cost per file, to show it grows linearly.
# Each timed command starts with the source in the page cache and nothing
# dirty left by the one before. Data goes to $ULV_BENCH_DIR (default
# /tmp/ulv-tree-bench), about 3 GiB.
set -euo pipefail
cd "$(dirname "$0")/.."
root="${ULV_BENCH_DIR:-/tmp/ulv-tree-bench}"

missing=""
command -v rsync >/dev/null || missing="$missing rsync"
command -v bc >/dev/null || missing="$missing bc"
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
scripts/install-deps
cmake --preset release >/dev/null
cmake --build --preset release --target EngineRun >/dev/null
engine="$PWD/build/release/bench/EngineRun"

mkdir -p "$root"
python3 - "$root" <<'PY'
import math, os, random, sys
root = sys.argv[1]
def tree(path, files, folders, sizes):
    marker = os.path.join(path, ".complete")
    if os.path.exists(marker):
        return
    rnd = random.Random(42)
    block = rnd.randbytes(1 << 20)
    for i in range(files):
        folder = os.path.join(path, "d%03d" % (i % folders)) if folders > 1 else path
        os.makedirs(folder, exist_ok=True)
        size = sizes(rnd)
        offset = (i * 7919) % 4096  # files differ from one another
        if offset + size > len(block):
            offset = 0
        with open(os.path.join(folder, "f%06d.dat" % i), "wb") as f:
            f.write(block[offset:offset + size])
    open(marker, "w").close()
tree(os.path.join(root, "mixed"), 20000, 500,
     lambda r: int(math.exp(r.uniform(math.log(1024), math.log(1 << 20)))))
tree(os.path.join(root, "flat10k"), 10000, 1, lambda r: 100)
tree(os.path.join(root, "flat100k"), 100000, 1, lambda r: 100)
PY

# Prints the wall seconds of a command, after warming the source and
# writing back whatever is dirty.
timed() {
  local source="$1"; shift
  find "$source" -type f -print0 | xargs -0 cat >/dev/null
  sync
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

ratio() { echo "scale=3; $1 / $2" | bc -l; }

src="$root/mixed"
# The initial copy is timed in three rounds that alternate which of the two
# goes first, and the best of each counts: creating thousands of files right
# after thousands were deleted costs the file system extra work, which should
# not fall on one side only.
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
t_cp=""; t_ulv=""
for round in 1 2 3; do
  rm -rf "$root/out-cp" "$root/out-ulv"
  sync; sleep 2
  if [ $((round % 2)) = 1 ]; then
    t_cp=$(min "$t_cp" "$(timed "$src" cp -a "$src" "$root/out-cp")")
    t_ulv=$(min "$t_ulv" "$(timed "$src" "$engine" "$src" "$root/out-ulv")")
  else
    t_ulv=$(min "$t_ulv" "$(timed "$src" "$engine" "$src" "$root/out-ulv")")
    t_cp=$(min "$t_cp" "$(timed "$src" cp -a "$src" "$root/out-cp")")
  fi
done
rm -rf "$root/out-rsync"
t_rs_first=$(timed "$src" rsync -a "$src/" "$root/out-rsync/")
# No-change re-runs: best of three each.
t_ulv_again=""; t_rs_again=""
for round in 1 2 3; do
  t_ulv_again=$(min "$t_ulv_again" "$(timed "$src" "$engine" "$src" "$root/out-ulv")")
  t_rs_again=$(min "$t_rs_again" "$(timed "$src" rsync -a "$src/" "$root/out-rsync/")")
done

per_file() { echo "scale=9; $1 / $2" | bc -l; }
flat() {
  local name="$1"
  rm -rf "$root/out-$name"
  "$engine" "$root/$name" "$root/out-$name" >/dev/null
  timed "$root/$name" "$engine" "$root/$name" "$root/out-$name"
}
t_10k=$(flat flat10k)
t_100k=$(flat flat100k)
t_10k=$(min "$t_10k" "$(timed "$root/flat10k" "$engine" "$root/flat10k" "$root/out-flat10k")")
t_100k=$(min "$t_100k" "$(timed "$root/flat100k" "$engine" "$root/flat100k" "$root/out-flat100k")")

printf '\n%-52s %10s\n' "measurement" "seconds"
printf '%-52s %10.3f\n' "initial copy, 20,000 files: cp -a" "$t_cp"
printf '%-52s %10.3f\n' "initial copy, 20,000 files: engine" "$t_ulv"
printf '%-52s %10.3f\n' "initial copy, 20,000 files: rsync -a" "$t_rs_first"
printf '%-52s %10.3f\n' "no-change re-run: engine" "$t_ulv_again"
printf '%-52s %10.3f\n' "no-change re-run: rsync -a" "$t_rs_again"
printf '%-52s %10.3f\n' "no-change re-run, 10,000 files in one folder" "$t_10k"
printf '%-52s %10.3f\n' "no-change re-run, 100,000 files in one folder" "$t_100k"
echo
echo "initial copy, engine / cp -a:            $(ratio "$t_ulv" "$t_cp")  (goal: at most 1.2)"
echo "no-change re-run, engine / rsync -a:     $(ratio "$t_ulv_again" "$t_rs_again")  (goal: at most 0.5)"
echo "per-file cost, 100,000 / 10,000 files:   $(ratio "$(per_file "$t_100k" 100000)" "$(per_file "$t_10k" 10000)")  (goal: at most 1.5)"
