#!/usr/bin/env bash
# Load benchmark of the board server: a zarquill-board on a free loopback port
# in a temporary folder, seeded with verified runs, answers
# GET /api/v1/boards/hard to wrk's connections while a submitter posts new runs
# that the workers verify meanwhile. Prints for each read requests per second,
# latency percentiles and non-2xx answers; for each phase the runs submitted
# and verified, the processor time each part used and the load average; and
# the server's peak memory. Everything stops by itself; nothing leaves this machine.
# --big seeds the database instead with zq_board_seed (1,000,000 verified runs
# of 100,000 names, written straight through SQL) and measures the three reads
# one after another, each alone with the submitter running: pages at random
# offsets of the Hard board, runs by random id and players' pages by random
# name; then all three at once (a third of the connections each), every read
# with its own figures. --postgres serves from a throwaway PostgreSQL
# cluster in the temporary folder, on a free loopback port, stopped at the end.
# --submit-rate 0 measures the reads without submissions.
#
# Usage: bench/board_load.sh [--board PATH] [--runs-tool PATH] [--database URL]
#          [--duration S] [--connections N] [--threads N] [--seed N]
#          [--submit-rate R] [--submitters N] [--workers N] [--favour]
#          [--big] [--seed-tool PATH] [--postgres]
# --favour (root only) gives this session's processes, and the throwaway
# PostgreSQL's (a session of their own), the processor ahead of other
# sessions' (autogroup nice -20, put back at the end), standing in for a
# quiet machine when others build or test on it; the report says so.
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
# The whole seeded board (about 400 MB of tables and indexes) stays in the
# cluster's own buffers, as an operator sizes them for a board this big.
pg_buffers=1GB
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
    -o "-p $pg_port -k $tmp/pg -c listen_addresses=127.0.0.1 -c shared_buffers=$pg_buffers" start >/dev/null ||
    { cat "$tmp/pg/server.log" >&2; exit 1; }
  # Through the cluster's Unix socket, as a board on the database's machine
  # would: loopback TCP costs both sides a few microseconds a statement more.
  database="postgresql://board@/postgres?host=$tmp/pg&port=$pg_port"
  # The database server starts a session of its own: favoured too, or the
  # server's reads wait on a database that other sessions' builds starve.
  if [ "$favour" = 1 ]; then
    postmaster="$(head -1 "$tmp/pg/data/postmaster.pid")"
    echo -20 >"/proc/$postmaster/autogroup" || { echo "board_load: cannot favour PostgreSQL" >&2; exit 1; }
  fi
fi
seed_line=""
if [ "$big" = 1 ]; then
  [ -x "$seed_tool" ] || { echo "board_load: $seed_tool is not built" >&2; exit 1; }
  mkdir -p "$tmp/data"
  seed_line="$("$seed_tool" "${database:-sqlite:$tmp/data/board.sqlite}" "$big_runs" "$big_names")"
  seed=0
  if [ -n "$database" ]; then
    # A board that has served for a while holds its tables in the cluster's
    # buffers; one just seeded reads every row from the system's file cache
    # first. Load them, so that the phases measure the board, not the warm-up.
    psql -q -X -v ON_ERROR_STOP=1 "$database" >/dev/null \
      -c "CREATE EXTENSION IF NOT EXISTS pg_prewarm" \
      -c "SELECT pg_prewarm(oid) FROM pg_class WHERE relkind IN ('r', 'i') AND relnamespace = 'public'::regnamespace" ||
      { echo "board_load: cannot load the seeded tables into PostgreSQL's buffers" >&2; exit 1; }
  fi
  # Pages of 50 at random offsets of the Hard board (every name is on it),
  # runs by random id and players by random name (the seed's "Ace N").
  for read in pages runs players; do
    case "$read" in
      pages) path='"/api/v1/boards/hard?offset=" .. math.random(0, '"$((big_names - 50))"')' ;;
      runs) path='"/api/v1/runs/" .. math.random(1, '"$big_runs"')' ;;
      players) path='"/api/v1/players/Ace%20" .. math.random(0, '"$((big_names - 1))"')' ;;
    esac
    cat >"$tmp/$read.lua" <<LUA
math.randomseed(os.time() + tonumber(tostring({}):match("0x(%x+)") or "0", 16) % 1000)
request = function()
  return wrk.format("GET", $path)
end
LUA
  done
fi

# Runs for the seed and the submitter: new bytes each, every third one on Hard.
phases=1
[ "$big" = 1 ] && phases=4
total_runs=$((seed + submit_rate * duration * phases + 1))
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
database_ticks() {  # the PostgreSQL cluster's processor ticks (its live processes), 0 without one
  [ -n "$database" ] || { echo 0; return; }
  local postmaster total=0 p
  postmaster="$(head -1 "$tmp/pg/data/postmaster.pid")"
  for p in "$postmaster" $(pgrep -P "$postmaster" || true); do
    total=$((total + $(awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null || echo 0)))
  done
  echo "$total"
}
busy_ticks() {  # all processors' busy ticks
  awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 }' /proc/stat
}

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
for ((k = 0; k < seed; ++k)); do submit "$k"; done >"$tmp/seed.codes"
seeded="$(grep -c '^20[02]$' "$tmp/seed.codes" || true)"
wait_for_queue 120 || echo "board_load: the seed runs were not all verified within 120 s" >&2
verified_before_seed="$(counter zarquill_board_runs_verified_total)"

echo "0 0" >"$tmp/rss"
server_exe="$(readlink "/proc/$server_pid/exe")"
# Peak memory: the server's resident set (and with its verification children)
# sampled every 100 ms, plus the kernel's own high-water mark at the end.
(
  peak=0 peak_all=0
  while kill -0 "$server_pid" 2>/dev/null; do
    rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$server_pid/status" 2>/dev/null || echo 0)"
    all="${rss:-0}"
    for child in $(pgrep -P "$server_pid" || true); do
      # A child shares the server's memory until it runs the verifier: not counted twice.
      [ "$(readlink "/proc/$child/exe" 2>/dev/null)" = "$server_exe" ] && continue
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

hard_runs="$({ curl -s --max-time 10 "$base/api/v1/boards/hard?limit=100" || true; } | grep -o '"rank"' | wc -l || true)"
storage=SQLite
[ -n "$database" ] && storage=PostgreSQL  # its address may hold a password
shown_favour=""
[ "$favour" = 1 ] && shown_favour=", favoured over other sessions"
echo "board load: $connections connections, $threads wrk threads, ${duration} s a phase, storage $storage$shown_favour"
[ -n "$seed_line" ] && echo "  big seed: $seed_line"
if [ "$big" -eq 1 ]; then
  echo "  the Hard board holds $big_names names (50 sent per page); runs by id 1..$big_runs, players 'Ace 0'..'Ace $((big_names - 1))'"
else
  echo "  seed: $seeded runs accepted, $verified_before_seed verified before the run; the Hard board holds $hard_runs (50 sent per page)"
fi

ms() {  # a wrk duration ("812.00us", "3.20ms", "1.02s") in milliseconds
  awk -v t="$1" 'BEGIN {
    v = t + 0
    if (t ~ /us$/) v /= 1000; else if (t ~ /ms$/) v *= 1; else if (t ~ /m$/) v *= 60000; else if (t ~ /s$/) v *= 1000
    printf "%.2f", v }'
}
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t) ? "met" : "NOT met" }'; }
hz="$(getconf CLK_TCK)"
cores="$(nproc)"
window=$(awk -v d="$duration" -v c="$cores" 'BEGIN { print d * c }')
next_run=$seed
worst_p99=0
failed=0
declare -A rate  # requests per second of each read in the last phase

# Runs one phase: wrk on each named read at once (the connections shared
# between them) while the submitter posts submit_rate runs a second; prints
# each read's figures and what the phase cost.
run_phase() {
  local phase="$1"
  shift
  local reads=("$@") n=$# conns wrk_threads pids=() read
  conns=$((connections / n))
  wrk_threads=$threads
  [ "$n" -gt 1 ] && wrk_threads=1
  wait_for_queue 120 || echo "board_load: runs still pending before the phase '$phase'" >&2
  local load_start verified_before rejected_before ticks_before database_before busy_before submitter=""
  load_start="$(cut -d' ' -f1-3 /proc/loadavg)"
  verified_before="$(counter zarquill_board_runs_verified_total)"
  rejected_before="$(counter zarquill_board_runs_rejected_total)"
  ticks_before="$(cpu_ticks "$server_pid")"
  database_before="$(database_ticks)"
  busy_before="$(busy_ticks)"
  : >"$tmp/submit-$phase.codes"
  if [ "$submit_rate" -gt 0 ]; then
    (
      k=$next_run
      end=$((next_run + submit_rate * duration))
      start_ns="$(date +%s%N)"
      while [ "$k" -lt "$end" ]; do
        submit "$k" &
        k=$((k + 1))
        due_ns=$((start_ns + (k - next_run) * 1000000000 / submit_rate))
        wait_ns=$((due_ns - $(date +%s%N)))
        if [ "$wait_ns" -gt 0 ]; then sleep "$(awk -v n="$wait_ns" 'BEGIN { printf "%.3f", n / 1e9 }')"; fi
      done
      wait
    ) >"$tmp/submit-$phase.codes" &
    submitter=$!
    background+=("$submitter")
    next_run=$((next_run + submit_rate * duration))
  fi
  TIMEFORMAT='%U %S'
  for read in "${reads[@]}"; do
    local script=() target=/api/v1/boards/hard
    [ "$big" = 1 ] && script=(-s "$tmp/$read.lua")
    { time timeout $((duration + 30)) wrk -c "$conns" -t "$wrk_threads" -d "${duration}s" \
        --latency --timeout 5s "${script[@]}" "$base$target" >"$tmp/wrk-$phase-$read.out" 2>&1; } \
        2>"$tmp/wrk-$phase-$read.time" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || true; done
  local load_end busy_after ticks_after database_after verified_during rejected_during
  load_end="$(cut -d' ' -f1-3 /proc/loadavg)"
  busy_after="$(busy_ticks)"
  ticks_after="$(cpu_ticks "$server_pid")"
  database_after="$(database_ticks)"
  verified_during=$(($(counter zarquill_board_runs_verified_total) - verified_before))
  rejected_during=$(($(counter zarquill_board_runs_rejected_total) - rejected_before))
  [ -n "$submitter" ] && { wait "$submitter" 2>/dev/null || true; }
  local submitted limited other
  submitted="$(grep -c '^202$' "$tmp/submit-$phase.codes" || true)"
  limited="$(grep -c '^429$' "$tmp/submit-$phase.codes" || true)"
  other="$(grep -vc '^\(202\|429\)$' "$tmp/submit-$phase.codes" || true)"
  # The other answers by status (000: no answer within curl's 10 s).
  local other_codes
  other_codes="$(grep -v '^\(202\|429\)$' "$tmp/submit-$phase.codes" | sort | uniq -c |
    awk '{ printf "%s%s x%s", (NR > 1 ? ", " : ""), $2, $1 }' || true)"
  echo "phase '$phase': ${reads[*]} at once, $conns connections and $wrk_threads wrk threads each"
  local requests_all=0 wrk_cpu=0
  for read in "${reads[@]}"; do
    local out="$tmp/wrk-$phase-$read.out"
    if ! grep -q 'Requests/sec' "$out"; then
      echo "board_load: wrk failed on $read:" >&2
      cat "$out" >&2
      failed=1
      continue
    fi
    local p50 p90 p99 max rps requests non2xx errors user sys
    pct() { awk -v p="$1%" '$1 == p { print $2 }' "$out"; }
    p50="$(ms "$(pct 50)")"
    p90="$(ms "$(pct 90)")"
    p99="$(ms "$(pct 99)")"
    max="$(ms "$(awk '$1 == "Latency" { print $4 }' "$out")")"
    rps="$(awk '$1 == "Requests/sec:" { print $2 }' "$out")"
    requests="$(awk '/requests in/ { print $1 }' "$out")"
    non2xx="$(awk '/Non-2xx or 3xx responses:/ { print $5 }' "$out")"
    errors="$(awk '/Socket errors:/ { sub(/.*Socket errors: /, ""); print }' "$out")"
    read -r user sys <"$tmp/wrk-$phase-$read.time"
    wrk_cpu=$(awk -v a="$wrk_cpu" -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", a + u + s }')
    requests_all=$((requests_all + requests))
    rate[$read]="$rps"
    worst_p99=$(awk -v a="$worst_p99" -v b="$p99" 'BEGIN { print (b > a) ? b : a }')
    printf '  %-8s %8s requests/s; latency p50 %s ms, p90 %s ms, p99 %s ms, max %s ms; non-2xx %s; socket errors %s\n' \
      "$read:" "$rps" "$p50" "$p90" "$p99" "$max" "${non2xx:-0}" "${errors:-none}"
  done
  local server_cpu database_cpu busy_cpu other_cpu per_request database_part=""
  server_cpu=$(awk -v a="$ticks_before" -v b="$ticks_after" -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) / hz }')
  database_cpu=$(awk -v a="$database_before" -v b="$database_after" -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) / hz }')
  busy_cpu=$(awk -v a="$busy_before" -v b="$busy_after" -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) / hz }')
  other_cpu=$(awk -v b="$busy_cpu" -v s="$server_cpu" -v d="$database_cpu" -v w="$wrk_cpu" 'BEGIN { v = b - s - d - w; printf "%.1f", v < 0 ? 0 : v }')
  [ -n "$database" ] && database_part=", PostgreSQL $database_cpu"
  per_request=$(awk -v c="$server_cpu" -v n="$requests_all" 'BEGIN { printf "%.1f", (n > 0 ? c * 1e6 / n : 0) }')
  echo "  runs meanwhile: $submitted submitted (202), $limited refused with 429, $other other${other_codes:+ ($other_codes)}; $verified_during verified, $rejected_during rejected by the end of the phase"
  echo "  processor seconds (of $window on $cores cores): server and its children $server_cpu ($per_request us a request)$database_part, wrk $wrk_cpu, all else $other_cpu"
  echo "  load average: $load_start at the start, $load_end at the end"
}

if [ "$big" = 1 ]; then
  run_phase pages pages
  run_phase runs runs
  run_phase players players
  run_phase mixed pages runs players
else
  run_phase board pages
fi
wait_for_queue 60 || echo "board_load: runs still pending 60 s after the run" >&2
hwm="$(awk '/^VmHWM:/ { print $2 }' "/proc/$server_pid/status")"
read -r peak_rss peak_all <"$tmp/rss"
echo "server memory: peak resident $(mb "$peak_rss") MB sampled, high-water mark $(mb "${hwm:-0}") MB; with verification children $(mb "$peak_all") MB"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "target p99 <= $target_p99_ms ms for every read: $(verdict "$worst_p99" "$target_p99_ms") (worst $worst_p99 ms); resident memory <= $target_rss_mb MB: $(verdict "$(mb "${hwm:-0}")" "$target_rss_mb")"
if [ "$big" = 1 ] && [ -n "${rate[pages]:-}" ]; then
  for read in runs players; do
    share=$(awk -v a="${rate[$read]:-0}" -v b="${rate[pages]}" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')
    echo "target $read at least half the board pages' rate in the mixed phase: $(verdict 0.5 "$share") ($share)"
  done
fi
[ "$failed" = 0 ]
