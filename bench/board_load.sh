#!/usr/bin/env bash
# Load benchmark of the board server: a zarquill-board on a free loopback port
# in a temporary folder, seeded with verified runs, answers
# GET /api/v1/boards/hard to wrk's connections while a submitter posts new runs
# that the workers verify meanwhile. Prints requests per second, latency
# percentiles, non-2xx answers, the runs submitted and verified during the
# run, the server's peak memory, the processor time each part used and the
# load average. Everything stops by itself; nothing leaves this machine.
# --big seeds the database instead with zq_board_seed (1,000,000 verified runs
# of 100,000 names, written straight through SQL) and asks for pages at random
# offsets of the Hard board; --postgres serves from a throwaway PostgreSQL
# cluster in the temporary folder, on a free loopback port, stopped at the end.
#
# Usage: bench/board_load.sh [--board PATH] [--runs-tool PATH] [--database URL]
#          [--duration S] [--connections N] [--threads N] [--seed N]
#          [--submit-rate R] [--submitters N] [--workers N] [--favour]
#          [--big] [--seed-tool PATH] [--postgres]
# --favour (root only) gives this session's processes the processor ahead of
# other sessions' (autogroup nice -20, put back at the end), standing in for
# a quiet machine when others build or test on it; the report says so.
# Targets: p99 at most 50 ms and the server's resident memory at most 100 MB.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
board="$root/build/board/zarquill-board"
runs_tool="$root/build/bench/zq_board_runs"
seed_tool="$root/build/bench/zq_board_seed"
big=0
big_runs=1000000
big_names=100000
postgres=0
database=""
duration=20
connections=200
threads=2
seed=150
submit_rate=5
submitters=8
workers=""
target_p99_ms=50
target_rss_mb=100
favour=0

usage() { sed -n '/^# Usage:/,/^# Targets:/p' "$0" | sed 's/^# \{0,1\}//'; }
number() {  # NAME VALUE MIN MAX: a whole number in range, or exit
  if ! [[ "$2" =~ ^[0-9]+$ ]] || [ "$2" -lt "$3" ] || [ "$2" -gt "$4" ]; then
    echo "board_load: $1 must be a whole number from $3 to $4" >&2
    exit 2
  fi
}
while [ $# -gt 0 ]; do
  if [ "$1" = --favour ]; then favour=1; shift; continue; fi
  if [ "$1" = --big ]; then big=1; shift; continue; fi
  if [ "$1" = --postgres ]; then postgres=1; shift; continue; fi
  if [ "$1" = --help ]; then usage; exit 0; fi
  [ $# -ge 2 ] || { usage >&2; exit 2; }
  case "$1" in
    --board) board="$2" ;;
    --runs-tool) runs_tool="$2" ;;
    --seed-tool) seed_tool="$2" ;;
    --database) database="$2" ;;
    --duration) number "$1" "$2" 1 600; duration="$2" ;;
    --connections) number "$1" "$2" 1 1000; connections="$2" ;;
    --threads) number "$1" "$2" 1 16; threads="$2" ;;
    --seed) number "$1" "$2" 0 5000; seed="$2" ;;
    --submit-rate) number "$1" "$2" 0 100; submit_rate="$2" ;;
    --submitters) number "$1" "$2" 1 200; submitters="$2" ;;
    --workers) number "$1" "$2" 1 64; workers="$2" ;;
    *) usage >&2; exit 2 ;;
  esac
  shift 2
done
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "board_load: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
for exe in "$board" "$runs_tool"; do
  [ -x "$exe" ] || { echo "board_load: $exe is not built" >&2; exit 1; }
done

tmp="$(mktemp -d /tmp/zq-board-load.XXXXXX)"
server_pid=""
pg_ctl=()
background=()
autogroup_nice=""
cleanup() {
  if [ -n "$autogroup_nice" ]; then echo "$autogroup_nice" >"/proc/$$/autogroup" || true; fi
  for pid in "${background[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$server_pid" 2>/dev/null || true
  fi
  wait 2>/dev/null || true
  if [ ${#pg_ctl[@]} -gt 0 ]; then "${pg_ctl[@]}" stop -m fast >/dev/null 2>&1 || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'echo "board_load: stopped by a failure at line $LINENO" >&2' ERR
trap 'exit 130' INT TERM

if [ "$favour" = 1 ]; then
  before_nice="$(sed -n 's/.* nice \(-\{0,1\}[0-9]*\)$/\1/p' "/proc/$$/autogroup" 2>/dev/null || true)"
  if [ -z "$before_nice" ] || ! echo -20 2>/dev/null >"/proc/$$/autogroup"; then
    echo "board_load: --favour needs root and a kernel with autogroups" >&2
    exit 1
  fi
  autogroup_nice="$before_nice"
fi

if [ "$postgres" = 1 ]; then
  pg_bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)"
  [ -x "$pg_bin/initdb" ] || { echo "board_load: PostgreSQL's server is missing (scripts/setup.sh installs it)" >&2; exit 1; }
  as_pg=()
  mkdir "$tmp/pg"
  if [ "$(id -u)" = 0 ]; then  # the server refuses to run as root
    chmod 711 "$tmp"
    chown postgres "$tmp/pg"
    as_pg=(runuser -u postgres --)
  fi
  "${as_pg[@]}" "$pg_bin/initdb" -D "$tmp/pg/data" -U board --auth=trust >"$tmp/pg/initdb.log" 2>&1 ||
    { cat "$tmp/pg/initdb.log" >&2; exit 1; }
  pg_port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  pg_ctl=("${as_pg[@]}" "$pg_bin/pg_ctl" -D "$tmp/pg/data")
  "${pg_ctl[@]}" -l "$tmp/pg/server.log" -w -t 60 \
    -o "-p $pg_port -k $tmp/pg -c listen_addresses=127.0.0.1" start >/dev/null ||
    { cat "$tmp/pg/server.log" >&2; exit 1; }
  database="postgresql://board@127.0.0.1:$pg_port/postgres"
fi
seed_line=""
if [ "$big" = 1 ]; then
  [ -x "$seed_tool" ] || { echo "board_load: $seed_tool is not built" >&2; exit 1; }
  mkdir -p "$tmp/data"
  seed_line="$("$seed_tool" "${database:-sqlite:$tmp/data/board.sqlite}" "$big_runs" "$big_names")"
  seed=0
  # Pages of 50 at random offsets of the Hard board (every name is on it).
  cat >"$tmp/pages.lua" <<LUA
math.randomseed(os.time())
request = function()
  return wrk.format("GET", "/api/v1/boards/hard?offset=" .. math.random(0, $((big_names - 50))))
end
LUA
fi

# Runs for the seed and the submitter: new bytes each, every third one on Hard.
total_runs=$((seed + submit_rate * duration + 1))
mkdir "$tmp/runs"
"$runs_tool" "$root/tests/data/replays" "$tmp/runs" "$total_runs"

args=(--listen 127.0.0.1:0 --data "$tmp/data")
[ -n "$database" ] && args+=(--database "$database")
[ -n "$workers" ] && args+=(--workers "$workers")
: >"$tmp/server.log"
"$board" "${args[@]}" 2>"$tmp/server.log" &
server_pid=$!
port=""
for _ in $(seq 100); do
  port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$tmp/server.log")"
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "board_load: the server did not start:" >&2
  cat "$tmp/server.log" >&2
  exit 1
fi
base="http://127.0.0.1:$port"

# Posts run K from loopback address 127.0.0.(2 + K mod submitters) (each its own
# player to the rate limiter) with the token of its name; prints the status.
submit() {
  curl -s -o /dev/null -w '%{http_code}\n' --max-time 10 \
    --interface "127.0.0.$((2 + $1 % submitters))" \
    -H "Authorization: Bearer $(printf 'loadbench%040d' "$1")" \
    -H 'Content-Type: application/octet-stream' \
    --data-binary "@$tmp/runs/run-$1.zqr" "$base/api/v1/runs" || echo 000
}
metric() {  # NAME: a counter or gauge from /metrics
  { curl -s --max-time 10 "$base/metrics" || true; } | awk -v n="$1" '$1 == n { print $2 }'
}
counter() {  # NAME: a counter from /metrics, 0 when the server did not answer
  local v
  v="$(metric "$1")"
  echo "${v:-0}"
}
wait_for_queue() {  # SECONDS: until no run is pending, bounded
  local deadline=$((SECONDS + $1))
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(metric zarquill_board_queue_length)" = "0" ] && return 0
    sleep 0.2
  done
  return 1
}
cpu_ticks() {  # PID: processor ticks of a process and its reaped children
  awk '{ print $14 + $15 + $16 + $17 }' "/proc/$1/stat"
}
busy_ticks() {  # all processors' busy ticks
  awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 }' /proc/stat
}

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
for ((k = 0; k < seed; ++k)); do submit "$k"; done >"$tmp/seed.codes"
seeded="$(grep -c '^20[02]$' "$tmp/seed.codes" || true)"
wait_for_queue 120 || echo "board_load: the seed runs were not all verified within 120 s" >&2

echo "0 0" >"$tmp/rss"
# Peak memory: the server's resident set (and with its verification children)
# sampled every 100 ms, plus the kernel's own high-water mark at the end.
(
  peak=0 peak_all=0
  while kill -0 "$server_pid" 2>/dev/null; do
    rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$server_pid/status" 2>/dev/null || echo 0)"
    all="${rss:-0}"
    for child in $(pgrep -P "$server_pid" || true); do
      c="$(awk '/^VmRSS:/ { print $2 }' "/proc/$child/status" 2>/dev/null || true)"
      all=$((all + ${c:-0}))
    done
    if [ "${rss:-0}" -gt "$peak" ]; then peak="$rss"; fi
    if [ "$all" -gt "$peak_all" ]; then peak_all="$all"; fi
    echo "$peak $peak_all" >"$tmp/rss.new" && mv "$tmp/rss.new" "$tmp/rss"
    sleep 0.1
  done
) &
background+=($!)

verified_before="$(counter zarquill_board_runs_verified_total)"
hard_runs="$({ curl -s --max-time 10 "$base/api/v1/boards/hard?limit=100" || true; } | grep -o '"rank"' | wc -l || true)"
rejected_before="$(counter zarquill_board_runs_rejected_total)"
server_ticks_before="$(cpu_ticks "$server_pid")"
busy_before="$(busy_ticks)"

# The submitter: submit_rate runs a second, spread over the players, for the run's length.
if [ "$submit_rate" -gt 0 ]; then
  (
    k=$seed
    end=$((seed + submit_rate * duration))
    start_ns="$(date +%s%N)"
    while [ "$k" -lt "$end" ]; do
      submit "$k" &
      k=$((k + 1))
      due_ns=$((start_ns + (k - seed) * 1000000000 / submit_rate))
      wait_ns=$((due_ns - $(date +%s%N)))
      if [ "$wait_ns" -gt 0 ]; then sleep "$(awk -v n="$wait_ns" 'BEGIN { printf "%.3f", n / 1e9 }')"; fi
    done
    wait
  ) >"$tmp/submit.codes" &
  background+=($!)
  submitter_pid=$!
fi

TIMEFORMAT='%U %S'
wrk_script=()
[ "$big" = 1 ] && wrk_script=(-s "$tmp/pages.lua")
{ time timeout $((duration + 30)) wrk -c "$connections" -t "$threads" -d "${duration}s" \
    --latency --timeout 5s "${wrk_script[@]}" "$base/api/v1/boards/hard" >"$tmp/wrk.out" 2>&1; } 2>"$tmp/wrk.time"
load_during="$(cut -d' ' -f1-3 /proc/loadavg)"
busy_after="$(busy_ticks)"
server_ticks_after="$(cpu_ticks "$server_pid")"
verified_during=$(($(counter zarquill_board_runs_verified_total) - verified_before))
rejected_during=$(($(counter zarquill_board_runs_rejected_total) - rejected_before))
[ -n "${submitter_pid:-}" ] && wait "$submitter_pid" 2>/dev/null || true
wait_for_queue 60 || echo "board_load: runs still pending 60 s after the run" >&2
verified_total=$(($(counter zarquill_board_runs_verified_total) - verified_before))
hwm="$(awk '/^VmHWM:/ { print $2 }' "/proc/$server_pid/status")"
read -r peak_rss peak_all <"$tmp/rss"

if ! grep -q 'Requests/sec' "$tmp/wrk.out"; then
  echo "board_load: wrk failed:" >&2
  cat "$tmp/wrk.out" >&2
  exit 1
fi
ms() {  # a wrk duration ("812.00us", "3.20ms", "1.02s") in milliseconds
  awk -v t="$1" 'BEGIN {
    v = t + 0
    if (t ~ /us$/) v /= 1000; else if (t ~ /ms$/) v *= 1; else if (t ~ /m$/) v *= 60000; else if (t ~ /s$/) v *= 1000
    printf "%.2f", v }'
}
pct() { awk -v p="$1%" '$1 == p { print $2 }' "$tmp/wrk.out"; }
p50="$(ms "$(pct 50)")"
p90="$(ms "$(pct 90)")"
p99="$(ms "$(pct 99)")"
max="$(ms "$(awk '$1 == "Latency" { print $4 }' "$tmp/wrk.out")")"
rps="$(awk '$1 == "Requests/sec:" { print $2 }' "$tmp/wrk.out")"
requests="$(awk '/requests in/ { print $1 }' "$tmp/wrk.out")"
non2xx="$(awk '/Non-2xx or 3xx responses:/ { print $5 }' "$tmp/wrk.out")"
errors="$(awk '/Socket errors:/ { sub(/.*Socket errors: /, ""); print }' "$tmp/wrk.out")"
submitted="$(grep -c '^202$' "$tmp/submit.codes" 2>/dev/null || true)"
limited="$(grep -c '^429$' "$tmp/submit.codes" 2>/dev/null || true)"
other="$(grep -vc '^\(202\|429\)$' "$tmp/submit.codes" 2>/dev/null || true)"
hz="$(getconf CLK_TCK)"
read -r wrk_user wrk_sys <"$tmp/wrk.time"
cores="$(nproc)"
window=$(awk -v d="$duration" -v c="$cores" 'BEGIN { print d * c }')
server_cpu=$(awk -v a="$server_ticks_before" -v b="$server_ticks_after" -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) / hz }')
busy_cpu=$(awk -v a="$busy_before" -v b="$busy_after" -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) / hz }')
wrk_cpu=$(awk -v u="$wrk_user" -v s="$wrk_sys" 'BEGIN { printf "%.1f", u + s }')
other_cpu=$(awk -v b="$busy_cpu" -v s="$server_cpu" -v w="$wrk_cpu" 'BEGIN { v = b - s - w; printf "%.1f", v < 0 ? 0 : v }')
per_request=$(awk -v c="$server_cpu" -v n="$requests" 'BEGIN { printf "%.1f", (n > 0 ? c * 1e6 / n : 0) }')
storage=SQLite
[ -n "$database" ] && storage=PostgreSQL  # its address may hold a password
shown_favour=""
[ "$favour" = 1 ] && shown_favour=", favoured over other sessions"
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t) ? "met" : "NOT met" }'; }

echo "board load: GET /api/v1/boards/hard, $connections connections, $threads wrk threads, ${duration} s, storage $storage$shown_favour"
[ -n "$seed_line" ] && echo "  big seed: $seed_line; pages at random offsets"
echo "  seed: $seeded runs accepted, $verified_before verified before the run; the Hard board holds $hard_runs (50 sent per page)"
echo "  requests: $requests in ${duration} s, $rps per second; non-2xx: ${non2xx:-0}; socket errors: ${errors:-none}"
echo "  latency: p50 $p50 ms, p90 $p90 ms, p99 $p99 ms, max $max ms"
echo "  runs during the run: $submitted submitted (202), $limited refused with 429, $other other; $verified_during verified, $rejected_during rejected by the end of the load, $verified_total verified once the queue drained"
echo "  server memory: peak resident $(mb "$peak_rss") MB sampled, high-water mark $(mb "${hwm:-0}") MB; with verification children $(mb "$peak_all") MB"
echo "  processor seconds during the run (of $window on $cores cores): server and its children $server_cpu ($per_request us a request), wrk $wrk_cpu, all else $other_cpu"
echo "  load average: $load_before before, $load_during at the end of the run"
echo "  target p99 <= $target_p99_ms ms: $(verdict "$p99" "$target_p99_ms"); resident memory <= $target_rss_mb MB: $(verdict "$(mb "${hwm:-0}")" "$target_rss_mb")"
