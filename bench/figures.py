#!/usr/bin/env python3
"""The benchmark figures of scripts/bench.

    figures.py LINES PART.json...

Reads Google Benchmark's JSON output (one file per series), prints the
per-unit cost of each scaling series at its largest size against its
smallest, the cost of a fault campaign and of whole previews of large
machines, and writes the figure lines "full run: ...", "scale: ..." and
"preview: ..." to the file LINES.
"""
import json
import re
import sys

# Names without the "/min_time:...", "/min_warmup_time:..." and
# "/repeats:..." parts; of a repeated benchmark, its quickest run.
bench = {}
for part in sys.argv[2:]:
    for b in json.load(open(part))["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        name = re.sub(r"/(min_(warmup_)?time|repeats):[0-9.]+", "", b["name"])
        if name not in bench or b["cpu_time"] < bench[name]["cpu_time"]:
            bench[name] = b


def ok(name):
    b = bench.get(name)
    return b is not None and not b.get("error_occurred", False)


def per_unit(name):
    b = bench[name]
    return b["cpu_time"] / b["units"], b["time_unit"], b["calls/unit"]


def scale(kind, families, small, large, unit):
    ratios = []
    for family in families:
        prefix = kind + ("/" + family if family else "")
        lo, hi = prefix + "/" + str(small), prefix + "/" + str(large)
        if not (ok(lo) and ok(hi)):
            print("  %-24s not measured" % prefix)
            continue
        (t0, u, c0), (t1, _, c1) = per_unit(lo), per_unit(hi)
        ratios.append(t1 / t0)
        print("  %-24s %.2f  (%.3g %s/%s at %d, %.3g at %d; calls/%s %.3g and %.3g)"
              % (prefix, t1 / t0, t0, u, unit, small, t1, large, unit, c0, c1))
    return "%.2f" % max(ratios) if ratios else "n/a"


print("\nper-unit cost, largest size against smallest (cpu time):")
keys = scale("delete_key_tree", ["9x", "nt"], 1000, 100000, "key")
wide = scale("delete_key_tree", ["9x/wide", "nt/wide"], 1000, 100000, "key")
guard = scale("guard", ["9x", "nt"], 100, 100000, "process")
ini = scale("system_ini", ["9x"], 1, 4096, "KB")
scale("device_entries", [""], 1, 4096, "KB")

rates = {}
for family in ("9x", "nt"):
    name = "full_run/" + family
    if ok(name):
        b = bench[name]
        rates[family] = "%.0f" % b["items_per_second"]
        calls = b["calls/unit"]
        # Failing each call of a run in turn: one run per call index.
        print("  fault campaign, %s: %.0f runs of %.0f us each, about %.2f s"
              % (family, calls, b["cpu_time"], calls * b["cpu_time"] / 1e6))
    else:
        rates[family] = "n/a"

# Whole previews: seconds (cpu time) of one preview at each size.
def seconds(name):
    b = bench[name]
    factor = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    return b["cpu_time"] * factor


print("\nwhole previews (cpu seconds; per-unit cost at the largest size against the smallest):")
preview = []
for kind, sizes in (("values", (10000, 100000, 1000000)), ("keys", (10000, 100000, 1000000)),
                    ("processes", (10000, 100000))):
    names = ["preview_%s/%d" % (kind, n) for n in sizes]
    if not all(ok(n) for n in names):
        print("  %-24s not measured" % ("preview_" + kind))
        preview.append("%s n/a" % kind)
        continue
    times = [seconds(n) for n in names]
    ratio = (times[-1] / sizes[-1]) / (times[0] / sizes[0])
    print("  %-24s %s; per unit %.2f" % ("preview_" + kind, ", ".join(
        "%dk %.2f s" % (n // 1000, t) for n, t in zip(sizes, times)), ratio))
    preview.append("%s %dk %.2f s" % (kind, sizes[-1] // 1000, times[-1]))
def doubling(kind, half, whole, sizes):
    """The seconds at the whole size and its ratio to the half size."""
    lo, hi = "%s/%d" % (kind, half), "%s/%d" % (kind, whole)
    if not (ok(lo) and ok(hi)):
        return "n/a"
    t0, t1 = seconds(lo), seconds(hi)
    print("  %-24s %s %.2f s, %s %.2f s, x%.2f" % (kind, sizes[0], t0, sizes[1], t1, t1 / t0))
    return "%.2f s (doubled from %dk: x%.2f)" % (t1, half // 1000, t1 / t0)


machine = doubling("preview_machine", 500000, 1000000,
                   ("500k keys + 50k values", "1M keys + 100k values"))
machine_file = doubling("preview_machine_file", 175000, 350000,
                        ("175k keys + 17.5k values", "350k keys + 35k values"))

with open(sys.argv[1], "w") as out:
    out.write("full run: 9x %s runs/s, nt %s runs/s\n" % (rates["9x"], rates["nt"]))
    out.write("scale: delete-key-tree %s (all subkeys of one key %s), guard %s, ini %s\n"
              % (keys, wide, guard, ini))
    out.write("preview: %s; 1M keys + 100k values %s; machine file of 350k keys + 35k values %s\n"
              % (", ".join(preview), machine, machine_file))
