#!/usr/bin/env python3
"""Puts the figures of one benchmark run into one table with the goals met or missed.

    scripts/bench_table.py figures.txt

figures.txt holds the "<key> <value>" lines the benchmark programs print (see
bench/README.md); other lines are ignored. A key given several times (one line per round of
a repeated benchmark) stands for the median of its values. A comparison whose figures are
missing is shown as "n/a" with the reason the run left in "missing.<name> <reason>" lines.
"""
import datetime
import os
import re
import statistics
import subprocess
import sys

FIGURE = re.compile(r"^([A-Za-z0-9_.]+) (-?[0-9.]+(?:e[-+]?[0-9]+)?)$")
MISSING = re.compile(r"^missing\.([a-z]+) (.*)$")


def read(path):
    values, missing = {}, {}
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            line = line.rstrip("\r\n")
            match = MISSING.match(line)
            if match:
                missing[match.group(1)] = match.group(2)
                continue
            match = FIGURE.match(line)
            if match:
                values.setdefault(match.group(1), []).append(float(match.group(2)))
    return {key: statistics.median_low(runs) for key, runs in values.items()}, missing


def machine():
    model, cores = "unknown CPU", os.cpu_count() or 0
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            for line in info:
                if line.startswith("model name"):
                    model = " ".join(line.split(":", 1)[1].split())
                    break
    except OSError:
        pass
    try:
        wine = subprocess.run(["/usr/lib/wine/wine64", "--version"], capture_output=True, text=True,
                              timeout=30).stdout.strip() or "unknown Wine"
    except (OSError, subprocess.SubprocessError):
        wine = "unknown Wine"
    return model, cores, wine


def rate(value):
    if value >= 1e6:
        return f"{value / 1e6:.2f} M"
    if value >= 1e4:
        return f"{value / 1e3:.0f} k"
    if value >= 1e3:
        return f"{value / 1e3:.1f} k"
    return f"{value:.0f}"


def number(value, digits=0):
    return f"{value:,.{digits}f}"


def ratio(ours, theirs):
    if ours is None or theirs is None or theirs == 0:
        return None
    return ours / theirs


def show_ratio(value):
    if value is None:
        return "—"
    return f"{value:.2f}x" if value >= 0.1 else f"{value:.3f}x"


class Table:
    def __init__(self, figures, missing):
        self.f = figures
        self.missing = missing
        self.rows = []

    def get(self, key):
        return self.f.get(key)

    def row(self, name, threads, measure, ours, theirs, ratio_text):
        self.rows.append((name, threads, measure, ours, theirs, ratio_text))

    def na(self, name, threads, measure, reason):
        self.row(name, threads, measure, f"n/a ({reason})", "", "")

    def single(self, name, threads, measure, key, digits=1):
        value = self.get(key)
        if value is None:
            self.na(name, threads, measure, "not measured")
        else:
            self.row(name, threads, measure, number(value, digits), "—", "—")

    def workload(self, name, threads, ours, theirs, theirs_missing=None):
        """Three lines: throughput, caller latencies, time until on disk."""
        o = lambda field: self.get(f"{ours}.t{threads}.{field}")
        t = lambda field: self.get(f"{theirs}.t{threads}.{field}")
        if o("rps") is None:
            self.na(name, threads, "records/s", "not measured")
            return
        if theirs_missing is not None or t("rps") is None:
            reason = theirs_missing or "not measured"
            self.row(name, threads, "records/s", rate(o("rps")), f"n/a ({reason})", "")
            self.row("", "", "caller p50 / p99 / p99.9 ns",
                     " / ".join(number(o(k)) for k in ("p50", "p99", "p999")), "", "")
            self.row("", "", "on disk s", number(o("disk"), 2), "", "")
            return
        self.row(name, threads, "records/s", rate(o("rps")), rate(t("rps")), show_ratio(ratio(o("rps"), t("rps"))))
        self.row("", "", "caller p50 / p99 / p99.9 ns", " / ".join(number(o(k)) for k in ("p50", "p99", "p999")),
                 " / ".join(number(t(k)) for k in ("p50", "p99", "p999")),
                 " / ".join(show_ratio(ratio(o(k), t(k))) for k in ("p50", "p99", "p999")))
        self.row("", "", "on disk s", number(o("disk"), 2), number(t("disk"), 2),
                 show_ratio(ratio(o("disk"), t("disk"))))

    def render(self):
        header = ("Row", "Threads", "Measure", "hostprobe", "Comparison", "Ratio")
        cells = [header] + [tuple(str(c) for c in r) for r in self.rows]
        widths = [max(len(r[i]) for r in cells) for i in range(len(header))]
        lines = []
        for n, r in enumerate(cells):
            lines.append("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
            if n == 0:
                lines.append("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        return "\n".join(lines)


def build_rows(table):
    spdlog = table.missing.get("spdlog")
    for channel, label in (("disabled", "trace to a disabled channel"), ("null", "trace to a null channel")):
        for threads in (1, 2):
            table.single(label, threads, "ns/call", f"trace.{channel}.t{threads}.ns")
    for threads in (1, 2):
        for reference, reference_label in (("async", "spdlog async"), ("sync", "spdlog sync")):
            for output in ("plain", "gzip"):
                table.workload(f"log-scope {output} vs {reference_label}", threads, f"logscope.{output}",
                               f"spdlog.{reference}", spdlog)
    for threads in (1, 2):
        table.workload("file back-end vs spdlog basic file sink, flush every record", threads, "file", "spdlog.flush",
                       spdlog)
    writer, zlib = table.get("gz.writer.mbps"), table.get("gz.zlib.mbps")
    if writer is None or zlib is None:
        table.na("gzip writer vs zlib -5 gzwrite", 1, "MB/s of text", "not measured")
    else:
        table.row("gzip writer vs zlib -5 gzwrite", 1, "MB/s of text", number(writer, 1), number(zlib, 1),
                  show_ratio(ratio(writer, zlib)))
        table.row("", "", "bytes on disk", number(table.get("gz.writer.bytes")), number(table.get("gz.zlib.bytes")),
                  show_ratio(ratio(table.get("gz.writer.bytes"), table.get("gz.zlib.bytes"))))
    gate = table.missing.get("gate")
    if gate is not None or table.get("gate.rps") is None:
        reason = gate or "not measured"
        table.na("gate back-end to a receiver process", 1, "records/s with zero loss", reason)
        table.na("", "", "loss at twice that rate", reason)
    else:
        table.row("gate back-end to a receiver process", 1, "records/s with zero loss", rate(table.get("gate.rps")),
                  "—", "—")
        table.row("", "", "loss at twice that rate", f"{100 * table.get('gate.loss2x'):.1f} %", "—", "—")
        if table.get("gate.sender.rps") is not None:
            table.row("", "", "records/s sent, unpaced", rate(table.get("gate.sender.rps")), "—", "—")
    run, floor = table.get("run.hostprobe.ms"), table.get("run.floor.ms")
    if run is None or floor is None:
        table.na("hostprobe run vs its system-call floor", 1, "wall ms", "not measured")
    else:
        table.row("hostprobe run vs its system-call floor", 1, "wall ms", number(run, 1), number(floor, 1),
                  show_ratio(ratio(run, floor)))
        kib, floor_kib = table.get("run.hostprobe.kib"), table.get("run.floor.kib")
        table.row("", "", "peak working set KiB", number(kib), number(floor_kib), show_ratio(ratio(kib, floor_kib)))
    size = table.get("exe.stripped.bytes")
    if size is None:
        table.na("stripped hostprobe.exe", "", "bytes", "not measured")
    else:
        table.row("stripped hostprobe.exe", "", "bytes", number(size), "—", "—")


def goal_at_most(name, value, limit, unit=""):
    if value is None:
        return f"- {name}: not measured"
    if value < limit or (unit == "x" and value <= limit):
        return f"- {name}: met ({value:.3g}{unit}, {limit - value:.3g}{unit} to spare)"
    return f"- {name}: MISSED by {value - limit:.3g}{unit} ({value:.3g}{unit})"


def goal_at_least(name, value, limit, unit="x"):
    if value is None:
        return f"- {name}: not measured"
    if value >= limit:
        return f"- {name}: met ({value:.3g}{unit}, {value - limit:.3g}{unit} to spare)"
    return f"- {name}: MISSED by {limit - value:.3g}{unit} ({value:.3g}{unit})"


def goals(table):
    g = table.get
    lines = ["Goals on this machine:"]
    lines.append(goal_at_most("trace to a disabled channel under 30 ns (1 thread)", g("trace.disabled.t1.ns"), 30,
                              " ns"))
    lines.append(goal_at_least("log-scope producer at least 3x spdlog async (plain, 1 thread, records/s)",
                               ratio(g("logscope.plain.t1.rps"), g("spdlog.async.t1.rps")), 3))
    p99 = [g(f"logscope.{o}.t1.p99") for o in ("plain", "gzip")]
    lines.append(goal_at_most("log-scope caller p99 under 1 us (plain and gzip, 1 thread)",
                              None if None in p99 else max(p99), 1000, " ns"))
    for threads in (1, 2):
        lines.append(goal_at_least(f"file back-end at least 1x spdlog flush-every-record ({threads} thread"
                                   f"{'s' if threads > 1 else ''}, records/s)",
                                   ratio(g(f"file.t{threads}.rps"), g(f"spdlog.flush.t{threads}.rps")), 1))
    lines.append(goal_at_least("gzip writer at least 0.9x zlib", ratio(g("gz.writer.mbps"), g("gz.zlib.mbps")), 0.9))
    lines.append(goal_at_most("hostprobe at most 1.1x its floor, wall time",
                              ratio(g("run.hostprobe.ms"), g("run.floor.ms")), 1.1, "x"))
    lines.append(goal_at_most("hostprobe at most 1.1x its floor, peak memory",
                              ratio(g("run.hostprobe.kib"), g("run.floor.kib")), 1.1, "x"))
    size = g("exe.stripped.bytes")
    lines.append(goal_at_most("stripped exe under 2 MB", None if size is None else size / 1e6, 2, " MB"))
    if "spdlog" in table.missing:
        lines.append(f"(spdlog comparisons not measured: {table.missing['spdlog']}; "
                     "scripts/install-bench-deps.sh installs them)")
    return "\n".join(lines)


def main():
    figures, missing = read(sys.argv[1])
    model, cores, wine = machine()
    # When the figures were taken: the end of the run that wrote them.
    when = datetime.datetime.fromtimestamp(os.path.getmtime(sys.argv[1]), datetime.timezone.utc)
    when = when.strftime("%Y-%m-%d %H:%M UTC")
    table = Table(figures, missing)
    build_rows(table)
    print(f"hostprobe benchmarks, {when}: {model}, {cores} cores, {wine}; one run of `make bench`")
    print("Ratio = hostprobe / comparison: above 1 is better for rates, below 1 for times and sizes.")
    print()
    print(table.render())
    print()
    print(goals(table))


if __name__ == "__main__":
    main()
