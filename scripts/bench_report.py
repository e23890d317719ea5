#!/usr/bin/env python3
"""Gathers what scripts/bench.sh ran into one JSON result file and, with
--docs, rewrites the generated section of docs/PERFORMANCE.md.
   bench_report.py RAW_DIR OUT_JSON ELAPSED_S [--docs PERFORMANCE.md]"""
import datetime
import json
import os
import platform
import subprocess
import sys

BEGIN = "<!-- scripts/bench.sh: generated section, do not edit by hand -->"
END = "<!-- scripts/bench.sh: end of generated section -->"
STREAM_FIGURES = [
    ("decoded_pct", "%"), ("presented_pct", "%"), ("presented_fps", "fps"),
    ("present_interval_ms.stdev", "ms"), ("present_interval_ms.p99", "ms"),
    ("capture_to_send.p50_ms", "ms"), ("capture_to_send.p99_ms", "ms"),
    ("last_packet_to_present.p50_ms", "ms"), ("last_packet_to_present.p99_ms", "ms"),
    ("decode.p50_ms", "ms"), ("decode.p99_ms", "ms"),
    ("overhead_beyond_decode_without_swap.p50_ms", "ms"), ("overhead_beyond_decode_without_swap.p99_ms", "ms"),
    ("own_overhead.p50_ms", "ms"), ("own_overhead.p99_ms", "ms"),
    ("queue_wait.p50_ms", "ms"), ("queue_wait.p99_ms", "ms"),
    ("swap.p50_ms", "ms"), ("swap.p99_ms", "ms"),
    ("capture_to_present.p50_ms", "ms"), ("capture_to_present.p99_ms", "ms"),
    ("cpu_total_pct", "% of one core"), ("cpu_excluding_decoder_pct", "% of one core"),
    ("cpu_excluding_decoder_and_rasteriser_pct", "% of one core"),
    ("peak_rss_mb", "MB"), ("threads", "threads"),
]


def dig(obj, dotted):
    for part in dotted.split("."):
        obj = obj.get(part) if isinstance(obj, dict) else None
    return obj


def machine():
    model = ""
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    mem_kb = next(int(l.split()[1]) for l in open("/proc/meminfo") if l.startswith("MemTotal"))
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
    dirty = subprocess.run(["git", "status", "--porcelain"], capture_output=True, text=True).stdout.strip()
    return {"cpu": model, "cores": os.cpu_count(), "memory_gb": round(mem_kb / 1048576, 1),
            "kernel": platform.release(), "load_average": open("/proc/loadavg").read().split()[:3],
            "commit": commit + ("+changes" if dirty else "")}


def google_benchmark(program, path, command):
    data = json.load(open(path))
    results = []
    for b in data.get("benchmarks", []):
        aggregate = b.get("aggregate_name")
        if aggregate not in (None, "median", "min"):
            continue
        if b.get("error_occurred"):
            continue
        name = b["name"] if aggregate is None else b["run_name"] + " (" + aggregate + ")"
        skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
                "real_time", "cpu_time", "time_unit", "family_index", "per_family_instance_index",
                "aggregate_name", "aggregate_unit", "label"}
        counters = {k: round(v, 4) for k, v in b.items() if k not in skip and isinstance(v, (int, float))}
        # Benchmarks that time themselves, or wait on other threads, report wall time.
        wall = "/manual_time" in name or "/real_time" in name
        results.append({"program": program, "benchmark": name,
                        "figure": round(b["real_time"] if wall else b["cpu_time"], 4),
                        "real_time": round(b["real_time"], 4),
                        "unit": b["time_unit"] + (" (wall)" if wall else " (CPU)"),
                        "counters": counters, "label": b.get("label", ""), "command": command})
    return results


def collect(raw):
    results = []
    for entry in sorted(os.listdir(raw)):
        if not entry.endswith(".json"):
            continue
        name = entry[:-5]
        path = os.path.join(raw, entry)
        command_file = os.path.join(raw, name + ".command")
        command = open(command_file).read() if os.path.exists(command_file) else ""
        try:
            if name.startswith("nb_bench"):
                results += google_benchmark(name, path, command)
            elif name == "fec_memory":
                data = json.loads(open(path).read())
                for key in ("resident_growth_streaming_mb", "pool_kept_streaming_mb",
                            "resident_retained_after_session_mb"):
                    results.append({"program": "nb_bench_fec_memory", "benchmark": key, "figure": data[key],
                                    "unit": "MB", "command": command})
            elif name.startswith("stream_"):
                data = json.loads(open(path).read())
                for key, unit in STREAM_FIGURES:
                    results.append({"program": "stream_trace.sh " + data["stream"], "benchmark": key,
                                    "figure": dig(data, key), "unit": unit, "command": command})
        except (ValueError, KeyError, OSError) as e:
            print(f"bench_report: {entry} unreadable: {e}", file=sys.stderr)
    return results


def markdown(report):
    m = report["machine"]
    lines = [BEGIN, "## Benchmark suite (scripts/bench.sh)", "",
             f"Run {report['date']} on {m['cores']} cores of {m['cpu']}, {m['memory_gb']} GB, "
             f"Linux {m['kernel']}, load average {' '.join(m['load_average'])} at the end; "
             f"commit {m['commit']}; the whole run took {report['elapsed_s']} s. "
             "Google Benchmark figures are CPU time per iteration (real time where the "
             "benchmark times itself); the machine-readable file has every counter.", "",
             "Command:", "", "    scripts/bench.sh", ""]
    by_command = {}
    for r in report["results"]:
        by_command.setdefault(r["command"], []).append(r)
    for command, rows in by_command.items():
        lines += [f"`{command}`", "", "| benchmark | figure | unit | counters |", "|---|---|---|---|"]
        for r in rows:
            counters = ", ".join(f"{k} {v:g}" for k, v in r.get("counters", {}).items()
                                 if k not in ("bytes_per_second", "items_per_second"))
            figure = r["figure"]
            shown = f"{figure:.4g}" if isinstance(figure, (int, float)) else str(figure)
            lines.append(f"| {r['benchmark']} | {shown} | {r['unit']} | {counters} |")
        lines.append("")
    lines.append(END)
    return "\n".join(lines) + "\n"


def update_docs(path, section):
    text = open(path).read()
    if BEGIN in text and END in text:
        before = text[:text.index(BEGIN)]
        after = text[text.index(END) + len(END):].lstrip("\n")
        text = before + section + ("\n" + after if after else "")
    else:
        text = text.rstrip("\n") + "\n\n" + section
    open(path, "w").write(text)


def main():
    raw, out, elapsed = sys.argv[1], sys.argv[2], int(sys.argv[3])
    report = {"date": datetime.datetime.now().astimezone().isoformat(timespec="seconds"),
              "elapsed_s": elapsed, "machine": machine(), "results": collect(raw)}
    os.makedirs(os.path.dirname(out) or ".", exist_ok=True)
    with open(out, "w") as f:
        json.dump(report, f, indent=1)
    if "--docs" in sys.argv:
        update_docs(sys.argv[sys.argv.index("--docs") + 1], markdown(report))


if __name__ == "__main__":
    main()
