#!/usr/bin/env bash
# What one open page costs `ulvaren ui` while a run copies: the CPU time of
# the window's own threads (the main thread and the HTTP server's threads:
# every thread but the run's, which are the pool's worker "tb-pool" and the
# tree listers "ulv-source" and "ulv-target") over a whole initial copy, with
# and without a client that asks for /api/state once a second as the page
# does, from /proc/PID/task/TID/stat and .../schedstat. Runs alternate
# between the two, and which of a pair goes first.
#
# Usage: bench/ui-cpu-bench.sh PATH/TO/ulvaren
#
# It builds nothing: pass a release build's ulvaren. The source is a
# generated tree of $ULV_UI_BENCH_FILES (default 40000) files of 1 to 8 KiB,
# 100 to a folder, made once in $ULV_BENCH_DIR (default /tmp/ulv-ui-bench);
# size it so that one run copies for 10 to 20 s. $ULV_UI_BENCH_PAIRS
# (default 5) runs of each kind. Needs curl, python3 and awk.
set -Eeuo pipefail
# A step that fails says which, instead of ending the bench without a word.
trap 'echo "ui-cpu-bench: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: $0 PATH/TO/ulvaren" >&2
  exit 2
fi
binary="$(realpath "$1")"
root="${ULV_BENCH_DIR:-/tmp/ulv-ui-bench}"
files="${ULV_UI_BENCH_FILES:-40000}"
pairs="${ULV_UI_BENCH_PAIRS:-5}"
ticks_per_second="$(getconf CLK_TCK)"
# Time-outs only: every wait ends on the event it waits for.
start_timeout=30
run_timeout=600

command -v curl >/dev/null || { echo "curl is needed" >&2; exit 2; }

mkdir -p "$root"
source="$root/src-$files"
python3 - "$source" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
marker = os.path.join(root, ".complete")
if not os.path.exists(marker):
    rnd = random.Random(7)
    block = rnd.randbytes(1 << 16)
    for i in range(count):
        folder = os.path.join(root, "d%04d" % (i // 100))
        os.makedirs(folder, exist_ok=True)
        size = rnd.randint(1024, 8192)
        offset = rnd.randint(0, len(block) - size)
        with open(os.path.join(folder, "f%06d.dat" % i), "wb") as f:
            f.write(block[offset:offset + size])
    open(marker, "w").close()
PY

work="$(mktemp -d "$root/run-XXXXXX")"
server=""
poller=""
cleanup() {
  [ -n "$poller" ] && kill "$poller" 2>/dev/null || true
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home"
mkdir -p "$HOME"
registry="$work/reg.db"
target="$work/out"
done_file="$work/run-done"
# The post-backup script marks the end of the copy, so the script can see it
# without asking the server.
cat >"$work/set.xml" <<XML
<backupset><Name>Bench</Name><Type>0</Type><FullPath>0</FullPath>
<AddComputerFolder>0</AddComputerFolder><SourceFolders><F>$source</F></SourceFolders>
<PostBackup><Enabled>1</Enabled><Program>/usr/bin/touch</Program><Args>'$done_file'</Args></PostBackup>
</backupset>
XML
mkdir -p "$target"
env -u ULVAREN_DEFAULT_TARGET "$binary" import "$work/set.xml" --target "$target" \
  --registry "$registry" >/dev/null

# Waits until `condition` (a command) holds, or fails after `limit` seconds.
wait_for() {
  local limit="$1" what="$2"; shift 2
  local deadline=$((SECONDS + limit))
  until "$@"; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "gave up waiting for $what" >&2
      exit 1
    fi
    sleep 0.05
  done
}

# "TICKS NS": the CPU time of the thread /proc/PID/task/TID $1, as user and
# system time in clock ticks (stat) and as time on a CPU in nanoseconds
# (schedstat). The ticks come in steps of 10 ms, which is about what the
# window's threads use in a whole run, so the nanoseconds tell more.
thread_times() {
  local stat sched ticks
  stat="$(cat "$1/stat" 2>/dev/null)" && sched="$(cat "$1/schedstat" 2>/dev/null)" || return 1
  # After the command name in parentheses, utime and stime are the 12th and
  # 13th fields.
  set -- ${stat##*) }
  ticks=$((${12} + ${13}))
  set -- $sched
  echo "$ticks $1"
}

# "TID TICKS NS" for every thread of process $1 but the run's.
window_threads() {
  local task times
  for task in /proc/"$1"/task/*; do
    case "$(cat "$task/comm" 2>/dev/null)" in tb-pool | ulv-source | ulv-target) continue ;; esac
    times="$(thread_times "$task")" || continue
    echo "${task##*/} $times"
  done
}

# "TICKS NS" of the threads in $2 (after) since $1 (before); a thread started
# in between counts from 0.
times_between() {
  awk 'NR == FNR { ticks[$1] = $2; ns[$1] = $3; next }
       { t += $2 - ticks[$1]; n += $3 - ns[$1] } END { print t + 0, n + 0 }' \
    <(echo "$1") <(echo "$2")
}

# "TICKS NS" of the pool's worker in process $1, for comparison.
worker_times() {
  local task
  for task in /proc/"$1"/task/*; do
    if [ "$(cat "$task/comm" 2>/dev/null)" = tb-pool ]; then
      thread_times "$task"
      return
    fi
  done
  echo "no thread named tb-pool in process $1: a build whose pool names its workers is needed" >&2
  return 1
}

address_printed() { grep -q 'token=[0-9a-f]*$' "$work/ui-out"; }
run_ended() { [ -e "$done_file" ]; }
# POSTs JSON $1 to $2 as the page would; prints the HTTP status.
post() {
  curl -s -o /dev/null -w '%{http_code}' -H "Cookie: $cookie" -H "Origin: $origin" \
    -H "Content-Type: application/json" -d "$1" "$2"
}
# Quit is refused (409) until the run has left the pool.
quit_accepted() { [ "$(post '{}' "$origin/api/quit")" = 200 ]; }

# One run; $1 is "page" (a client polls /api/state once a second) or "none".
# Appends "KIND WALL WINDOW_TICKS_S WINDOW_NS_S WORKER_S TICKS_% NS_%" to
# $results (CPU times in seconds, % of one core over the wall time). Not in a
# subshell, so that the clean-up on exit knows the processes it started.
one_run() {
  local kind="$1"
  rm -rf "$target" "$done_file"
  mkdir -p "$target"
  sync
  "$binary" ui --no-browser --port 0 --registry "$registry" >"$work/ui-out" 2>"$work/ui-err" &
  server=$!
  wait_for "$start_timeout" "the address of ulvaren ui" address_printed
  local address port token
  address="$(grep -o 'http://127\.0\.0\.1:[0-9]*/?token=[0-9a-f]*' "$work/ui-out")"
  port="$(echo "$address" | sed 's|http://127\.0\.0\.1:\([0-9]*\)/.*|\1|')"
  token="${address##*token=}"
  origin="http://127.0.0.1:$port"
  cookie="$(curl -s -o /dev/null -D - "$origin/?token=$token" |
    sed -n 's/^[Ss]et-[Cc]ookie: \([^;]*\).*/\1/p')"
  [ -n "$cookie" ] || { echo "the token was not exchanged for a cookie" >&2; exit 1; }

  if [ "$kind" = page ]; then
    (while :; do
      curl -s -o /dev/null -H "Cookie: $cookie" "$origin/api/state" || true
      sleep 1
    done) &
    poller=$!
  fi

  # Only the bench's set: the first start also made the Home set.
  local index
  index="$(curl -s -H "Cookie: $cookie" "$origin/api/state" | python3 -c \
    'import json, sys; print([s["name"] for s in json.load(sys.stdin)["sets"]].index("Bench"))')"
  [ "$(post '{"index":'"$index"'}' "$origin/api/select")" = 200 ] ||
    { echo "the set could not be selected" >&2; exit 1; }

  local before after worker_before worker_after started ended
  before="$(window_threads "$server")"
  worker_before="$(worker_times "$server")"
  started="$(date +%s.%N)"
  [ "$(post '{"name":"start"}' "$origin/api/command")" = 200 ] ||
    { echo "the set could not be started" >&2; exit 1; }
  wait_for "$run_timeout" "the end of the run" run_ended
  ended="$(date +%s.%N)"
  after="$(window_threads "$server")"
  worker_after="$(worker_times "$server")"

  if [ -n "$poller" ]; then
    kill "$poller"
    wait "$poller" 2>/dev/null || true
    poller=""
  fi
  wait_for "$run_timeout" "ulvaren ui to accept Quit" quit_accepted
  wait "$server"
  server=""

  awk -v kind="$kind" -v s="$started" -v e="$ended" -v hz="$ticks_per_second" \
    -v window="$(times_between "$before" "$after")" -v w0="$worker_before" -v w1="$worker_after" \
    'BEGIN {
       wall = e - s; split(window, t, " "); split(w0, a, " "); split(w1, b, " ")
       printf "%s %.2f %.3f %.4f %.2f %.3f %.4f\n", kind, wall, t[1] / hz, t[2] / 1e9,
              (b[2] - a[2]) / 1e9, 100 * t[1] / hz / wall, 100 * t[2] / 1e9 / wall
     }' >>"$results"
}

echo "ulvaren ui while a run copies $files files: CPU time of the window's threads"
echo "from stat (utime+stime, ${ticks_per_second} ticks/s) and schedstat (ns), % of one core"
format='%-4s %-5s %7s %13s %14s %9s %8s %9s\n'
printf "$format" run kind wall_s stat_window_s sched_window_s worker_s "stat_%" "sched_%"
results="$work/results"
: >"$results"
for pair in $(seq 1 "$pairs"); do
  if [ $((pair % 2)) = 1 ]; then order="none page"; else order="page none"; fi
  for kind in $order; do
    one_run "$kind"
    set -- $(tail -n 1 "$results")
    printf "$format" "$pair" "$@"
  done
done
awk '{ stat[$1] += $6; sched[$1] += $7; n[$1]++ }
     END {
       for (k in n) { stat[k] /= n[k]; sched[k] /= n[k] }
       printf "mean %% of a core with the polling client / without: stat %.3f / %.3f, schedstat %.4f / %.4f\n",
              stat["page"], stat["none"], sched["page"], sched["none"]
       printf "the page costs %.3f (stat) / %.4f (schedstat) %% of one core (goal: under 2)\n",
              stat["page"] - stat["none"], sched["page"] - sched["none"]
     }' "$results"
