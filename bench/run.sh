#!/usr/bin/env bash
# Benchmarks of the Linux build: a whole run against starting the capture
# program through sh, CPU time and memory while waiting, and two large inputs.
# It reports; it never fails on a timing. Run it after a build:
#
#   cmake -S . -B build && cmake --build build && bash bench/run.sh [--quick] [BUILD_DIR]
#
# Needs hyperfine, GNU time (/usr/bin/time), libfaketime, pgrep, a C compiler
# and python3: apt-get install hyperfine time faketime procps gcc python3
# --quick takes few samples and waits 3 s instead of 60 s: it shows that every
# figure can be taken, not what it is. Exits 1 only when a figure could not
# be taken.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# Every run of the launcher looks at the whole process table (the pre-launch
# stop). The benchmark runs in a process table of its own (tests/isolated.sh),
# so that no run can touch a process outside, filled with idle processes to
# QB_BENCH_PROCESSES entries (default 100, a busy machine's count): figure A is
# taken over a table of the same size on every machine.
if [ -z "${QB_ISOLATED:-}" ]; then
  exec sh "$here/../tests/isolated.sh" bash "$0" "$@"
fi
quick=0
if [ "${1:-}" = "--quick" ]; then
  quick=1
  shift
fi
build="$(cd "${1:-$here/../build}" && pwd)"
launcher="$build/quellatorbin"

die() {
  echo "bench: $*" >&2
  exit 1
}

[ -x "$launcher" ] || die "no launcher at $launcher: build first (cmake -S . -B build && cmake --build build)"
faketime_lib=""
for f in /usr/lib/*/faketime/libfaketime.so.1 /usr/lib/faketime/libfaketime.so.1; do
  [ -f "$f" ] && faketime_lib="$f" && break
done
missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
[ -x /usr/bin/time ] || missing+=(time)
[ -n "$faketime_lib" ] || missing+=(faketime)
command -v cc >/dev/null || missing+=(gcc)
command -v python3 >/dev/null || missing+=(python3)
command -v pgrep >/dev/null || missing+=(procps)
[ ${#missing[@]} -eq 0 ] || die "missing tools; install them with: apt-get install ${missing[*]}"

if [ $quick -eq 1 ]; then
  rounds=1 runs=5 warmup=1 wait_s=3 settle_s=1 rss_reps=1 rss_after=1
else
  rounds=10 runs=50 warmup=10 wait_s=60 settle_s=2 rss_reps=5 rss_after=2
fi

work="$(mktemp -d /tmp/quellatorbin-bench.XXXXXX)"
# Waiting runs that are measured, by pid, so that an interrupted benchmark
# leaves none behind.
helpers=()
fillers=()
cleanup() {
  for p in "${fillers[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${helpers[@]}"; do
    pkill -P "$p" 2>/dev/null || true
    kill "$p" 2>/dev/null || true
  done
  if [ -f "$work/waiting.pids" ]; then
    while read -r p; do kill "$p" 2>/dev/null || true; done <"$work/waiting.pids"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The pid of the process that the shell or GNU time started as $1, noted for
# the cleanup.
measured_child() {
  local pid
  pid="$(pgrep -P "$1")" || die "a waiting run ended before it was measured"
  echo "$pid" >>"$work/waiting.pids"
  echo "$pid"
}

# Instance 42 gives the image name zarnivekZ.exe, so the pre-launch stop of a
# benchmark run ends nothing that may really be recording.
image=zarnivekZ.exe
cc -O2 -o "$work/nothing" "$here/nothing.c"
cc -O2 -o "$work/wake" "$here/wake.c"

# One directory per case: the launcher, the stand-in and a settings file.
make_case() {
  mkdir -p "$work/$1"
  cp "$launcher" "$work/$1/quellatorbin"
  cp "$work/nothing" "$work/$1/$image"
  printf '; evening recordings\nI0\nM5,5\n@3FF,401\n' >"$work/$1/quellatorbin.ini"
}
for c in run many bigini wait; do make_case "$c"; done
: >"$work/many/rec.ts"
for ((i = 1; i < 10000; i++)); do : >"$work/many/rec($i).ts"; done
awk 'BEGIN { for (i = 0; i < 10000; i++) {
  k = i % 4
  if (k == 0) print "; remark"; else if (k == 1) print "M5,5"; else if (k == 2) print "I0"
  else printf "@%X,1\n", 4096 + i } }' >"$work/bigini/quellatorbin.ini"

# Each launcher must run as meant before it is timed.
echoed() {
  "$work/$1/quellatorbin" "$work/$1/rec.ts" @400 I42 2100 2>/dev/null || die "the $1 case ended with status $?"
}
line="$(echoed run)"
[ "$line" = "$work/run/$image \"$work/run/rec.ts\" @400 2100" ] || die "unexpected command line: $line"
[ "$(echoed many)" = "$work/many/$image \"$work/many/rec(10000).ts\" @400 2100" ] || die "the 10,000 names case"
[ "$(echoed bigini)" = "$work/bigini/$image \"$work/bigini/rec.ts\" @400 2100" ] || die "the 10,000 lines case"
fake_start="2026-12-07 20:57:30"
[ "$(env LD_PRELOAD="$faketime_lib" FAKETIME="@$fake_start" date +%T)" = "20:57:30" ] || die "libfaketime has no effect"

cmd_run="$work/run/quellatorbin $work/run/rec.ts @400 I42 2100"
cmd_sh="sh -c '$line'"
cmd_many="$work/many/quellatorbin $work/many/rec.ts @400 I42 2100"
cmd_bigini="$work/bigini/quellatorbin $work/bigini/rec.ts @400 I42 2100"

for ((n = $(ls /proc | grep -c '^[0-9]'); n < ${QB_BENCH_PROCESSES:-100}; n++)); do
  sleep 100000 &
  fillers+=($!)
done

meta="$work/meta.tsv"
{
  printf 'mode\t%s\n' "$([ $quick -eq 1 ] && echo quick || echo full)"
  printf 'machine\t%s x %s, Linux %s\n' "$(nproc)" \
    "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)" "$(uname -r)"
  printf 'load\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
  printf 'processes\t%s\n' "$(ls /proc | grep -c '^[0-9]')"
  printf 'rounds\t%s\nruns\t%s\nwarmup\t%s\nwait_s\t%s\nrss_reps\t%s\n' "$rounds" "$runs" "$warmup" "$wait_s" "$rss_reps"
  printf 'cmd_run\t%s\ncmd_sh\t%s\ncmd_many\t%s\ncmd_bigini\t%s\n' "$cmd_run" "$cmd_sh" "$cmd_many" "$cmd_bigini"
} >"$meta"

# Whole-process times. The launcher and its baseline are timed in rounds,
# in turns first and second, so that a change of load on the machine (or
# caches left warm by the command before) touches both alike; the two large
# inputs follow in rounds of their own.
echo "timing whole runs: $rounds round(s) of $runs runs per command..." >&2
hyperfine_round() {
  local out=$1
  shift
  hyperfine -N --style none --warmup "$warmup" --runs "$runs" --export-json "$out" "$@" \
    >>"$work/hyperfine.log" 2>&1 || die "hyperfine failed: $(tail -3 "$work/hyperfine.log")"
}
for ((r = 1; r <= rounds; r++)); do
  if ((r % 2)); then
    hyperfine_round "$work/round-$r.json" "$cmd_run" "$cmd_sh"
  else
    hyperfine_round "$work/round-$r.json" "$cmd_sh" "$cmd_run"
  fi
done
for ((r = 1; r <= (rounds + 3) / 4; r++)); do
  hyperfine_round "$work/large-$r.json" "$cmd_many" "$cmd_bigini"
done

# CPU time while waiting outside the launch minute: the fake clock starts at
# 20:57:30 and the launch is at 20:59:35, so the whole measured wait is spent
# in the once-a-second loop. The run is ended from outside after its time.
# Its user+system time is the CPU time the kernel counts for it, read from
# /proc/<pid>/schedstat in nanoseconds just before the end (GNU time prints
# hundredths of a second, too coarse for this figure; bash's time reading is
# kept as a check). Read once more after the start, it gives the wait loop
# alone. sleep under the same clock, side by side, is the baseline. At the
# same time, on the real clock (a window ten minutes ahead) and so without
# libfaketime's own work: the launcher beside the least a wait that wakes
# once a second can do (wake.c), what such a wake costs on this machine.
echo "measuring CPU time over a ${wait_s} s wait..." >&2
cpu_time() {
  local out=$1 clock=$2
  shift 2
  (
    [ "$clock" = real ] || export LD_PRELOAD="$faketime_lib" FAKETIME="@$fake_start"
    TIMEFORMAT='%3R %3U %3S'
    time "$@" >/dev/null 2>&1
  ) 2>"$out" &
  local sub=$! pid first last
  sleep "$settle_s"
  pid="$(measured_child "$sub")"
  # A kernel without scheduler statistics has no schedstat: bash's time is left.
  first="$(cut -d' ' -f1 "/proc/$pid/schedstat" 2>/dev/null || echo -)"
  sleep $((wait_s - settle_s))
  last="$(cut -d' ' -f1 "/proc/$pid/schedstat" 2>/dev/null || echo -)"
  kill "$pid"
  wait "$sub" || true
  echo "$first $last" >"$out.schedstat"
}
ahead="$(date -d '+10 min' +%H:%M)"
cpu_time "$work/cpu-launcher.txt" fake "$work/wait/quellatorbin" "$work/wait/rec.ts" @400 I42 21:00-21:30 &
helpers+=($!)
cpu_time "$work/cpu-sleep.txt" fake sleep $((wait_s + 5)) &
helpers+=($!)
cpu_time "$work/cpu-real.txt" real "$work/wait/quellatorbin" "$work/wait/rec.ts" @400 I42 "$ahead-23:59" &
helpers+=($!)
cpu_time "$work/cpu-wake.txt" real "$work/wake" &
helpers+=($!)
wait "${helpers[@]}"
helpers=()
printf 'settle_s\t%s\n' "$settle_s" >>"$meta"
printf 'cmd_cpu\t%s\n' "LD_PRELOAD=$faketime_lib FAKETIME='@$fake_start' TIMEFORMAT='%3R %3U %3S'; time $work/wait/quellatorbin $work/wait/rec.ts @400 I42 21:00-21:30   (ended after $wait_s s)" >>"$meta"
printf 'cmd_cpu_base\t%s\n' "the same with sleep $((wait_s + 5)) in place of the launcher" >>"$meta"
printf 'cmd_cpu_real\t%s\n' "$work/wait/quellatorbin $work/wait/rec.ts @400 I42 $ahead-23:59 on the real clock, beside $work/wake" >>"$meta"

# Peak resident memory of a run that waits on the real clock (for a window
# ten minutes ahead), ended after a moment; a C program that does nothing is
# the baseline.
echo "measuring peak memory..." >&2
start="$(date -d '+10 min' +%H:%M)"
for ((i = 0; i < rss_reps; i++)); do
  /usr/bin/time -f %M -o "$work/rss.txt" "$work/wait/quellatorbin" "$work/wait/rec.ts" @400 I42 "$start-23:59" \
    >/dev/null 2>&1 &
  tpid=$!
  sleep "$rss_after"
  child="$(measured_child "$tpid")"
  # Its own cost, beside the RSS that counts every shared page whole: its
  # proportional share of the pages it maps (Pss), and the pages no other
  # process maps (Private_Clean + Private_Dirty).
  rollup="/proc/$child/smaps_rollup"
  sed -n 's/^Anonymous: *\([0-9]*\) kB/\1/p' "$rollup" >>"$work/anon.txt"
  sed -n 's/^Pss: *\([0-9]*\) kB/\1/p' "$rollup" >>"$work/pss.txt"
  awk '/^Private_(Clean|Dirty):/ { kb += $2 } END { print kb }' "$rollup" >>"$work/private.txt"
  kill "$child"
  wait "$tpid" || true
  tail -1 "$work/rss.txt" >>"$work/rss-launcher.txt"
  /usr/bin/time -f %M -o "$work/rss.txt" "$work/nothing"
  tail -1 "$work/rss.txt" >>"$work/rss-nothing.txt"
done
printf 'cmd_rss\t%s\n' "/usr/bin/time -f %M $work/wait/quellatorbin $work/wait/rec.ts @400 I42 $start-23:59   (ended after $rss_after s)" >>"$meta"
printf 'cmd_rss_base\t%s\n' "/usr/bin/time -f %M $work/nothing" >>"$meta"

python3 "$here/report.py" "$work"
