"""Prints the benchmark table from what bench/run.sh gathered in its work
directory. Exits 1 when a figure is missing."""
import json
import statistics
import sys
from pathlib import Path

work = Path(sys.argv[1])
meta = dict(line.split("\t", 1) for line in (work / "meta.tsv").read_text().splitlines())
problems = []


def numbers(name):
    path = work / name
    if not path.exists():
        problems.append(f"{name} is missing")
        return []
    values = []
    for line in path.read_text().split():
        try:
            values.append(float(line))
        except ValueError:
            problems.append(f"{name}: unexpected '{line}'")
    return values


# Whole runs: every run of every round, by command, in milliseconds.
COMMANDS = ["cmd_run", "cmd_sh", "cmd_many", "cmd_bigini"]
times = {c: [] for c in COMMANDS}
round_ratios = []
for path in sorted(work.glob("round-*.json")) + sorted(work.glob("large-*.json")):
    results = json.loads(path.read_text())["results"]
    by_command = {r["command"]: [t * 1000 for t in r["times"]] for r in results}
    for c in COMMANDS:
        times[c] += by_command.get(meta[c], [])
    run, sh = by_command.get(meta["cmd_run"]), by_command.get(meta["cmd_sh"])
    if run and sh:
        round_ratios.append(statistics.median(run) / statistics.median(sh))
median = {c: statistics.median(v) if v else None for c, v in times.items()}
fastest = {c: min(v) if v else None for c, v in times.items()}
for c, v in median.items():
    if v is None:
        problems.append(f"no timings for {meta[c]}")


def cpu_ms(name, seconds):
    """user+system ms of a run ended after `seconds`, from bash's time report."""
    path = work / name
    lines = path.read_text().splitlines() if path.exists() else []
    for line in reversed(lines):
        try:
            real, user, system = (float(f) for f in line.split())
        except ValueError:
            continue
        if real < seconds * 0.9:
            problems.append(f"{name}: the run ended after {real} s, before its wait was over")
        return (user + system) * 1000
    problems.append(f"{name}: no time report")
    return None


def schedstat(name):
    """The two CPU time readings (ns) of a run: after its start, at its end;
    None where the kernel keeps no scheduler statistics."""
    fields = (work / name).read_text().split() if (work / name).exists() else []
    if len(fields) != 2 or not all(f.isdigit() for f in fields):
        return None
    return int(fields[0]), int(fields[1])


wait_s, settle_s = float(meta["wait_s"]), float(meta["settle_s"])
CPU_RUNS = ("launcher", "sleep", "real", "wake")
bash_time = {n: cpu_ms(f"cpu-{n}.txt", wait_s) for n in CPU_RUNS}
readings = {n: schedstat(f"cpu-{n}.txt.schedstat") for n in CPU_RUNS}
per_min = {n: (bash_time[n] if r is None else r[1] / 1e6) for n, r in readings.items()}
per_min = {n: None if v is None else v * 60 / wait_s for n, v in per_min.items()}
loop = {n: None if r is None else (r[1] - r[0]) / 1e6 * 60 / (wait_s - settle_s) for n, r in readings.items()}
rss = {n: numbers(n) for n in ("rss-launcher.txt", "rss-nothing.txt", "anon.txt", "pss.txt", "private.txt")}
rss_median = {n: statistics.median(v) if v else None for n, v in rss.items()}


def ms(v):
    return "-" if v is None else f"{v:.2f} ms"


def ratio(a, b):
    return "-" if a is None or not b else f"{a / b:.2f}x"


def verdict(ok):
    if meta["mode"] == "quick":
        return ""  # too few samples to judge
    return "-" if ok is None else ("met" if ok else "MISSED")


def kib(v):
    return "-" if v is None else f"{v / 1024:.2f} MiB" if v >= 1024 else f"{v:.0f} KiB"


run, sh = median["cmd_run"], median["cmd_sh"]
rss_run, rss_nothing = rss_median["rss-launcher.txt"], rss_median["rss-nothing.txt"]
rows = [
    ("A", "full run, no wait", ms(run), ms(sh), ratio(run, sh), "<= 1.5x baseline",
     verdict(None if run is None or sh is None else run <= 1.5 * sh)),
    ("B", "CPU (user+sys) per minute of waiting", ms(per_min["launcher"]), ms(per_min["sleep"]),
     ratio(per_min["launcher"], per_min["sleep"]), "< 10 ms",
     verdict(None if per_min["launcher"] is None else per_min["launcher"] < 10)),
    ("", "  of it the wait loop, start left out", ms(loop["launcher"]), ms(loop["sleep"]), "", "", ""),
    ("", "  the same on the real clock, no libfaketime", ms(per_min["real"]), ms(per_min["wake"]),
     ratio(per_min["real"], per_min["wake"]), "", ""),
    ("C", "peak resident memory, waiting run", kib(rss_run), kib(rss_nothing), ratio(rss_run, rss_nothing),
     "<= 1.5 MiB", verdict(None if rss_run is None else rss_run <= 1536)),
    ("", "  its proportional share (Pss)", kib(rss_median["pss.txt"]), "", "", "", ""),
    ("", "  its private memory (no other process maps it)", kib(rss_median["private.txt"]), "", "", "", ""),
    ("", "  of that anonymous memory", kib(rss_median["anon.txt"]), "", "", "", ""),
    ("D", "full run, 10,000 names taken", ms(median["cmd_many"]), ms(run), ratio(median["cmd_many"], run),
     "< 50 ms", verdict(None if median["cmd_many"] is None else median["cmd_many"] < 50)),
    ("E", "full run, settings of 10,000 lines", ms(median["cmd_bigini"]), ms(run),
     ratio(median["cmd_bigini"], run), "< 50 ms",
     verdict(None if median["cmd_bigini"] is None else median["cmd_bigini"] < 50)),
]
heads = ("", "figure", "measured", "baseline", "ratio", "target", "")
widths = [max(len(str(r[i])) for r in rows + [heads]) for i in range(len(heads))]

print(f"quellatorbin benchmarks ({meta['mode']} mode)"
      + (": few samples and a 3 s wait, figures not judged" if meta["mode"] == "quick" else ""))
print(f"machine: {meta['machine']}; load average {meta['load']}; {meta['processes']} processes in /proc")
print()
for r in [heads] + rows:
    print("  ".join(str(v).ljust(w) for v, w in zip(r, widths)).rstrip())
print()
rounds = int(meta["rounds"])
print(f"A: medians of {len(times['cmd_run'])} runs each, in {rounds} round{'s' if rounds != 1 else ''} taking turns"
      f" first; D, E: of {len(times['cmd_many'])} runs each")
print(f"  hyperfine -N --warmup {meta['warmup']} --runs {meta['runs']} \\")
print(f"    '{meta['cmd_run']}' \\")
print(f"    \"{meta['cmd_sh']}\"")
print(f"  hyperfine -N --warmup {meta['warmup']} --runs {meta['runs']} \\")
print(f"    '{meta['cmd_many']}' \\")
print(f"    '{meta['cmd_bigini']}'")
print("  A's baseline is the launcher's own capture command line run through sh -c; D's and E's is A's run")
if round_ratios:
    print(f"  A's ratio per round {min(round_ratios):.2f}x to {max(round_ratios):.2f}x; fastest runs"
          f" {ms(fastest['cmd_run'])} and {ms(fastest['cmd_sh'])}: {ratio(fastest['cmd_run'], fastest['cmd_sh'])}")
print(f"B: {meta['cmd_cpu']}")
print(f"  baseline: {meta['cmd_cpu_base']}")
print(f"  CPU time from /proc/<pid>/schedstat just before the end (bash's time where there is none), per"
      f" minute; the wait loop alone from {meta['settle_s']} s on. bash's time, as a check: " + ", ".join(
          f"{n} {'-' if v is None else f'{v:.0f} ms'}" for n, v in bash_time.items()))
print(f"  real clock: {meta['cmd_cpu_real']}, a loop that reads the local time, writes a progress line and"
      " sleeps a second: the least a wake costs here")
print(f"C: {meta['cmd_rss']}")
print(f"  baseline: {meta['cmd_rss_base']}")
print(f"  median of {meta['rss_reps']}; Pss and private memory from /proc/<pid>/smaps_rollup while it waits")

if problems:
    print()
    for p in problems:
        print(f"bench: {p}", file=sys.stderr)
    sys.exit(1)
