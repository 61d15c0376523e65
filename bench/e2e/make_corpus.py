#!/usr/bin/env python3
"""Writes the corpus of the end-to-end benchmark: N EDR events as NDJSON in
the host program's input format, one per line.

    python3 bench/e2e/make_corpus.py --count 200000 --output corpus.ndjson

The events come from examples/generate_events.py (same types, names and
proportions), with three changes that let every run be accounted for:

  - each event carries "seq", its line number from 0, so that a receiver's
    output shows what was lost, sent twice or reordered;
  - events that bench/e2e/host_config.json drops are left out (the signed
    updater starts its exclusion rule matches), so that every line is handed
    over and the host program, rsyslog and syslog-ng forward the same count;
  - lines outside 300 bytes to 8 KiB are drawn again.

The size statistics of the lines and of the events the host program sends
(the compact "event" member) go to standard error. The output depends only
on --count and --seed.
"""

import argparse
import json
import os
import statistics
import sys

# The examples' generator, imported without leaving a bytecode cache in examples/.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples"))
import generate_events  # noqa: E402

MIN_LINE_BYTES = 300
MAX_LINE_BYTES = 8192


def dropped_by_rule(event):
    """The exclusion rule of host_config.json (and examples/config.json)."""
    process = event.get("process", {})
    signature = process.get("signature", {})
    return (event["eventType"] == "ProcessCreate"
            and process.get("name", "").lower() == "updater.exe"
            and process.get("path", "").startswith(generate_events.UPDATER_DIR)
            and signature.get("signed") is True and signature.get("valid") is True
            and signature.get("signer") == generate_events.UPDATER_SIGNER)


def numbered(record, seq):
    """The record with "seq" right after the event's type and throttling id."""
    event = record["event"]
    ordered = {"eventType": event["eventType"], "throttlingId": event["throttlingId"], "seq": seq}
    ordered.update(event)
    return dict(record, event=ordered)


def percentile(sorted_values, fraction):
    return sorted_values[min(len(sorted_values) - 1, int(fraction * len(sorted_values)))]


def describe(name, sizes):
    ordered = sorted(sizes)
    return ("%-7s bytes: min %d, median %d, mean %.0f, p95 %d, max %d, total %.1f MiB"
            % (name, ordered[0], percentile(ordered, 0.5), statistics.fmean(ordered), percentile(ordered, 0.95),
               ordered[-1], sum(ordered) / 1048576))


def main():
    parser = argparse.ArgumentParser(description="Write the end-to-end benchmark's corpus as NDJSON.")
    parser.add_argument("--count", type=int, default=200000, help="number of events (default 200000)")
    parser.add_argument("--seed", type=int, default=11, help="random seed (default 11)")
    parser.add_argument("--output", default="-", help="file to write (default -: standard output)")
    args = parser.parse_args()
    if args.count < 1:
        parser.error("--count must be at least 1")

    generator = generate_events.Generator(args.seed)
    out = sys.stdout.buffer if args.output == "-" else open(args.output, "wb")
    line_sizes, event_sizes, types = [], [], {}
    redrawn = left_out = 0
    seq = 0
    while seq < args.count:
        record = generator.event()
        if dropped_by_rule(record["event"]):
            left_out += 1
            continue
        record = numbered(record, seq)
        # As the examples do: a few lines escape every non-ASCII character.
        ascii_only = generator.rng.random() < 0.04
        line = json.dumps(record, ensure_ascii=ascii_only, separators=(",", ":")).encode("utf-8")
        if not MIN_LINE_BYTES <= len(line) <= MAX_LINE_BYTES:
            redrawn += 1
            continue
        out.write(line + b"\n")
        line_sizes.append(len(line))
        # What the host program hands over: the event, compact, in UTF-8.
        event_sizes.append(len(json.dumps(record["event"], ensure_ascii=False, separators=(",", ":"))
                               .encode("utf-8")))
        types[record["eventType"]] = types.get(record["eventType"], 0) + 1
        seq += 1
    if out is not sys.stdout.buffer:
        out.close()

    print("corpus: %d events (%s); %d left out as the exclusion rule's, %d drawn again for their size"
          % (args.count, ", ".join("%s %d" % item for item in sorted(types.items())), left_out, redrawn),
          file=sys.stderr)
    print("corpus: " + describe("line", line_sizes), file=sys.stderr)
    print("corpus: " + describe("event", event_sizes), file=sys.stderr)


if __name__ == "__main__":
    main()
