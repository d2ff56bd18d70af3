#!/usr/bin/env bash
# Times whole backup runs of the engine over real and generated folder trees
# against standard tools, in one run, and prints the ratios with their goals:
#   1. re-run with nothing changed over /usr/share: engine vs rsync -a, and vs
#      two find walks that stat every entry (one over the source, one over
#      the engine's copy), which is the least any re-run has to do;
#   2. the same over 40,000 small files in 4,000 folders;
#   3. initial copy of /usr/share: engine vs cp -a, each followed by sync so
#      that data left in the page cache counts for both;
#   4. initial copy and no-change re-run of 100,000 and of 10,000 sibling
#      folders: cost per folder, to show it grows linearly;
#   5. peak resident memory of the engine's initial copy and no-change re-run
#      of /usr/share.
# Each timed command starts with the source in the page cache, the targets'
# entries cached and nothing dirty left by the one before. Data goes to
# $ULV_BENCH_DIR (default /tmp/ulv-walk-bench), about 4 GiB: three copies
# of /usr/share at the peak.
#
# ULV_BENCH_QUICK=1 uses small sizes (/usr/share/doc, 2,000 files, 1,000 and
# 10,000 folders) to check the script end to end in a few minutes; its figures
# are too small to judge the goals by. ULV_ENGINE_RUN=PATH uses an EngineRun
# already built instead of building the release preset.
set -euo pipefail
engine="${ULV_ENGINE_RUN:+$(realpath "$ULV_ENGINE_RUN")}"
cd "$(dirname "$0")/.."
root="${ULV_BENCH_DIR:-/tmp/ulv-walk-bench}"

if [ "${ULV_BENCH_QUICK:-0}" = 1 ]; then
  share=/usr/share/doc
  tree_tops=10; tree_subs=20; tree_files=10
  few=1000; many=10000
else
  share=/usr/share
  tree_tops=40; tree_subs=100; tree_files=10
  few=10000; many=100000
fi
tree_count=$((tree_tops * tree_subs * tree_files))
tree_folders=$((tree_tops * tree_subs))
rounds=3

missing=()
command -v rsync >/dev/null || missing+=(rsync)
command -v bc >/dev/null || missing+=(bc)
command -v python3 >/dev/null || missing+=(python3)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
if [ -z "$engine" ]; then
  scripts/install-deps
  mkdir -p "$root"
  if ! { cmake --preset release && cmake --build --preset release --target EngineRun; } \
    >"$root/build.log" 2>&1; then
    echo "building EngineRun failed (full output in $root/build.log):" >&2
    tail -n 30 "$root/build.log" >&2
    exit 1
  fi
  engine="$PWD/build/release/bench/EngineRun"
fi

step() { echo "== $(date +%T) $*" >&2; }

mkdir -p "$root"
tree="$root/tree-$tree_count"
siblings_few="$root/siblings-$few"
siblings_many="$root/siblings-$many"
step "generating trees in $root (once)"
python3 - "$tree" "$tree_tops" "$tree_subs" "$tree_files" "$siblings_few" "$few" \
  "$siblings_many" "$many" <<'PY'
import os, random, sys

def made(path):
    return os.path.exists(os.path.join(path, ".complete"))

def mark(path):
    open(os.path.join(path, ".complete"), "w").close()

def nested(path, tops, subs, files):
    if made(path):
        return
    rnd = random.Random(42)
    block = rnd.randbytes(1 << 16)
    n = 0
    for t in range(tops):
        for s in range(subs):
            folder = os.path.join(path, "t%03d" % t, "s%03d" % s)
            os.makedirs(folder, exist_ok=True)
            for f in range(files):
                size = rnd.randint(100, 4096)
                offset = (n * 7919) % (len(block) - size)  # files differ from one another
                with open(os.path.join(folder, "f%02d.txt" % f), "wb") as out:
                    out.write(block[offset:offset + size])
                n += 1
    mark(path)

def siblings(path, count):
    # Every other folder holds one tiny file, the rest are empty.
    if made(path):
        return
    for i in range(count):
        folder = os.path.join(path, "d%06d" % i)
        os.makedirs(folder, exist_ok=True)
        if i % 2 == 0:
            with open(os.path.join(folder, "note.txt"), "w") as out:
                out.write("folder %d\n" % i)
    mark(path)

a = sys.argv
nested(a[1], int(a[2]), int(a[3]), int(a[4]))
siblings(a[5], int(a[6]))
siblings(a[7], int(a[8]))
PY

log="$root/last-run.log"
notes=""

# Reads every file under SOURCE and stats every entry under each TARGET, so
# the command that follows finds them in the page cache.
warm() {
  local source="$1"; shift
  find "$source" -type f -print0 2>/dev/null | xargs -0 -r cat >/dev/null 2>&1 || true
  local target
  for target in "$@"; do
    if [ -e "$target" ]; then find "$target" -printf '%s %T@\n' >/dev/null 2>&1 || true; fi
  done
}

# timed SOURCE [TARGET...] -- COMMAND...
# Runs COMMAND after warming and writing back whatever is dirty, and sets
# $elapsed to its wall seconds. A failing command ends the script with its
# output: the time of a run that did not finish means nothing.
timed() {
  local paths=()
  while [ "$1" != -- ]; do paths+=("$1"); shift; done
  shift
  warm "${paths[@]}"
  sync
  local start end
  start=$(date +%s.%N)
  if ! "$@" >"$log" 2>&1; then
    echo "failed: $*" >&2
    cat "$log" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  elapsed=$(echo "$end - $start" | bc -l)
}

then_sync() { "$@"; sync; }

# The least a no-change re-run has to do: stat every entry of both trees.
two_finds() {
  find "$1" -printf '%s %T@\n' >/dev/null
  find "$2" -printf '%s %T@\n' >/dev/null
}

# An engine re-run over an unchanged tree that copies files is timing work
# the comparison does not count; say so next to the figures.
check_unchanged() {
  if ! grep -q ' copied=0 ' "$log"; then
    notes="$notes
note: the engine's no-change re-run over $1 copied files: $(tail -n 1 "$log")"
  fi
}

min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }
per() { echo "scale=9; $1 / $2" | bc -l; }
verdict() { if [ "$(echo "$1 <= $2" | bc -l)" = 1 ]; then echo "met"; else echo "MISSED"; fi; }
goal() { printf '%-52s %8.3f  (goal: at most %s, %s)\n' "$1" "$2" "$3" "$(verdict "$2" "$3")"; }

# No-change re-runs over SOURCE, best of three each, alternating which goes
# first. Makes the engine's and rsync's copies first when they are missing.
# Sets $t_ulv, $t_rsync and $t_finds.
no_change() {
  local source="$1" out_ulv="$2" out_rsync="$3"
  [ -e "$out_ulv" ] || "$engine" "$source" "$out_ulv" >/dev/null
  [ -e "$out_rsync" ] || rsync -a "$source/" "$out_rsync/"
  t_ulv=""; t_rsync=""; t_finds=""
  local round
  for round in $(seq "$rounds"); do
    if [ $((round % 2)) = 1 ]; then
      timed "$source" "$out_ulv" "$out_rsync" -- "$engine" "$source" "$out_ulv"
      check_unchanged "$source"; t_ulv=$(min "$t_ulv" "$elapsed")
      timed "$source" "$out_ulv" "$out_rsync" -- rsync -a "$source/" "$out_rsync/"
      t_rsync=$(min "$t_rsync" "$elapsed")
      timed "$source" "$out_ulv" "$out_rsync" -- two_finds "$source" "$out_ulv"
      t_finds=$(min "$t_finds" "$elapsed")
    else
      timed "$source" "$out_ulv" "$out_rsync" -- two_finds "$source" "$out_ulv"
      t_finds=$(min "$t_finds" "$elapsed")
      timed "$source" "$out_ulv" "$out_rsync" -- rsync -a "$source/" "$out_rsync/"
      t_rsync=$(min "$t_rsync" "$elapsed")
      timed "$source" "$out_ulv" "$out_rsync" -- "$engine" "$source" "$out_ulv"
      check_unchanged "$source"; t_ulv=$(min "$t_ulv" "$elapsed")
    fi
  done
}

# 3. Initial copy, in rounds that alternate which of the two goes first, the
# best of each counting: creating thousands of files right after thousands
# were deleted costs the file system extra work, which should not fall on
# one side only.
share_ulv="$root/out-share-ulv"
share_cp="$root/out-share-cp"
share_rsync="$root/out-share-rsync"
t_copy_cp=""; t_copy_ulv=""
for round in $(seq "$rounds"); do
  step "initial copy of $share, round $round of $rounds"
  rm -rf "$share_ulv" "$share_cp"
  sync; sleep 2
  if [ $((round % 2)) = 1 ]; then
    timed "$share" -- then_sync cp -a "$share" "$share_cp"; t_copy_cp=$(min "$t_copy_cp" "$elapsed")
    timed "$share" -- then_sync "$engine" "$share" "$share_ulv"; t_copy_ulv=$(min "$t_copy_ulv" "$elapsed")
  else
    timed "$share" -- then_sync "$engine" "$share" "$share_ulv"; t_copy_ulv=$(min "$t_copy_ulv" "$elapsed")
    timed "$share" -- then_sync cp -a "$share" "$share_cp"; t_copy_cp=$(min "$t_copy_cp" "$elapsed")
  fi
done
rm -rf "$share_cp"

# 1. No-change re-runs over /usr/share, into the engine's own copy.
step "no-change re-runs over $share"
rm -rf "$share_rsync"
no_change "$share" "$share_ulv" "$share_rsync"
t_share_ulv=$t_ulv; t_share_rsync=$t_rsync; t_share_finds=$t_finds

# 2. The same over the generated tree of small files.
step "no-change re-runs over $tree_count files in $tree_folders folders"
rm -rf "$root/out-tree-ulv" "$root/out-tree-rsync"
no_change "$tree" "$root/out-tree-ulv" "$root/out-tree-rsync"
t_tree_ulv=$t_ulv; t_tree_rsync=$t_rsync; t_tree_finds=$t_finds

# 4. Sibling folders: initial copy (alternating which size goes first) and
# no-change re-run, engine only.
t_sib_copy_few=""; t_sib_copy_many=""
copy_siblings() {
  local source="$1" out="$2"
  timed "$source" -- then_sync "$engine" "$source" "$out"
}
for round in $(seq "$rounds"); do
  step "initial copy of $few and $many sibling folders, round $round of $rounds"
  rm -rf "$root/out-siblings-few" "$root/out-siblings-many"
  sync; sleep 2
  if [ $((round % 2)) = 1 ]; then
    copy_siblings "$siblings_few" "$root/out-siblings-few"; t_sib_copy_few=$(min "$t_sib_copy_few" "$elapsed")
    copy_siblings "$siblings_many" "$root/out-siblings-many"; t_sib_copy_many=$(min "$t_sib_copy_many" "$elapsed")
  else
    copy_siblings "$siblings_many" "$root/out-siblings-many"; t_sib_copy_many=$(min "$t_sib_copy_many" "$elapsed")
    copy_siblings "$siblings_few" "$root/out-siblings-few"; t_sib_copy_few=$(min "$t_sib_copy_few" "$elapsed")
  fi
done
step "no-change re-runs over $few and $many sibling folders"
t_sib_again_few=""; t_sib_again_many=""
for round in $(seq "$rounds"); do
  timed "$siblings_few" "$root/out-siblings-few" -- "$engine" "$siblings_few" "$root/out-siblings-few"
  check_unchanged "$siblings_few"; t_sib_again_few=$(min "$t_sib_again_few" "$elapsed")
  timed "$siblings_many" "$root/out-siblings-many" -- "$engine" "$siblings_many" "$root/out-siblings-many"
  check_unchanged "$siblings_many"; t_sib_again_many=$(min "$t_sib_again_many" "$elapsed")
done

# 5. Peak memory, measured on runs of their own so that the timed runs above
# carry no extra process.
step "peak memory of the engine over $share"
peak_mib() {
  local kib
  rm -f "$root/peak.txt"
  if ! /usr/bin/time -f %M -o "$root/peak.txt" "$@" >"$log" 2>&1; then
    echo "failed: $*" >&2
    cat "$log" "$root/peak.txt" >&2
    exit 1
  fi
  kib=$(tail -n 1 "$root/peak.txt")
  echo "scale=1; $kib / 1024" | bc -l
}
rm -rf "$share_ulv"
sync
mem_copy=$(peak_mib "$engine" "$share" "$share_ulv")
mem_again=$(peak_mib "$engine" "$share" "$share_ulv")

row() { printf '%-62s %10.3f\n' "$1" "$2"; }
printf '\n%-62s %10s\n' "measurement" "seconds"
row "initial copy of $share + sync: cp -a" "$t_copy_cp"
row "initial copy of $share + sync: engine" "$t_copy_ulv"
row "no-change re-run of $share: engine" "$t_share_ulv"
row "no-change re-run of $share: rsync -a" "$t_share_rsync"
row "no-change re-run of $share: two find walks" "$t_share_finds"
row "no-change re-run, $tree_count files: engine" "$t_tree_ulv"
row "no-change re-run, $tree_count files: rsync -a" "$t_tree_rsync"
row "no-change re-run, $tree_count files: two find walks" "$t_tree_finds"
row "initial copy + sync, $few sibling folders: engine" "$t_sib_copy_few"
row "initial copy + sync, $many sibling folders: engine" "$t_sib_copy_many"
row "no-change re-run, $few sibling folders: engine" "$t_sib_again_few"
row "no-change re-run, $many sibling folders: engine" "$t_sib_again_many"
echo
goal "$share no-change, engine / rsync -a:" "$(ratio "$t_share_ulv" "$t_share_rsync")" 0.6
goal "$share no-change, engine / two finds:" "$(ratio "$t_share_ulv" "$t_share_finds")" 1.0
goal "$tree_count files no-change, engine / rsync -a:" "$(ratio "$t_tree_ulv" "$t_tree_rsync")" 0.6
goal "$tree_count files no-change, engine / two finds:" "$(ratio "$t_tree_ulv" "$t_tree_finds")" 1.0
goal "$share initial copy, engine / cp -a:" "$(ratio "$t_copy_ulv" "$t_copy_cp")" 1.0
goal "per-folder cost $many / $few, initial copy:" \
  "$(ratio "$(per "$t_sib_copy_many" "$many")" "$(per "$t_sib_copy_few" "$few")")" 1.5
goal "per-folder cost $many / $few, no-change:" \
  "$(ratio "$(per "$t_sib_again_many" "$many")" "$(per "$t_sib_again_few" "$few")")" 1.5
echo
printf '%-52s %8.1f MiB\n' "engine peak memory, initial copy of $share:" "$mem_copy"
printf '%-52s %8.1f MiB\n' "engine peak memory, no-change re-run:" "$mem_again"
if [ -n "$notes" ]; then echo "$notes"; fi
