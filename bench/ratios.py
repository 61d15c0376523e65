#!/usr/bin/env python3
"""Ratios between benchmarks of one Google Benchmark run with repetitions.

Reads the run's JSON (--benchmark_format=json) on standard input; for each
pair NAME:BASELINE prints the median, lowest and highest of NAME's
items_per_second over BASELINE's, taken repetition by repetition, so that a
slow minute of the machine weighs on both sides of a ratio alike. Run with
--benchmark_repetitions=10 --benchmark_enable_random_interleaving=true.

  build/bin/syslog_benchmark --benchmark_repetitions=10 \\
      --benchmark_enable_random_interleaving=true --benchmark_format=json \\
      | bench/ratios.py BM_SyslogTcp:BM_BareTcp BM_SyslogTls:BM_BareTls
"""
import json
import statistics
import sys


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    runs = {}
    for bench in json.load(sys.stdin)["benchmarks"]:
        if bench.get("run_type") == "iteration":
            # A benchmark timed in real time has /real_time in its name,
            # before /threads:N when it has that too.
            name = bench["run_name"].replace("/real_time", "")
            runs.setdefault(name, []).append(bench["items_per_second"])
    for pair in sys.argv[1:]:
        # Names may hold colons themselves (NAME/arg:1): the pair splits at
        # the colon whose two sides are benchmarks of the run.
        splits = [(pair[:i], pair[i + 1:]) for i, c in enumerate(pair) if c == ":"]
        name, baseline = next(((a, b) for a, b in splits if a in runs and b in runs), (pair, ""))
        if name not in runs or baseline not in runs:
            print(f"{pair}: not in this run", file=sys.stderr)
            return 1
        ratios = sorted(a / b for a, b in zip(runs[name], runs[baseline]))
        print(f"{name} / {baseline}: median {statistics.median(ratios):.2f}, "
              f"lowest {ratios[0]:.2f}, highest {ratios[-1]:.2f} over {len(ratios)} repetitions "
              f"({statistics.median(runs[name]) / 1e3:.0f}k against {statistics.median(runs[baseline]) / 1e3:.0f}k items/s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
