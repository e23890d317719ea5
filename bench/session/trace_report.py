#!/usr/bin/env python3
"""Reads what bench/session/stream_trace.sh collected in its work folder
and prints one JSON object of latency, frame rate, CPU and memory figures
for the measured window (frames whose last packet arrived in it)."""
import csv
import json
import statistics
import sys


def pct(values, p):
    if not values:
        return None
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100.0 * (len(v) - 1))))]


def ms_stats(values_us):
    return {"p50_ms": round(pct(values_us, 50) / 1000.0, 3) if values_us else None,
            "p99_ms": round(pct(values_us, 99) / 1000.0, 3) if values_us else None,
            "count": len(values_us)}


def threads(path):
    out = {}
    for line in open(path):
        tid, name, ticks = line.split()
        out[int(tid)] = (name, int(ticks))
    return out


def main():
    work, width, height, kbps, load_before, load_after, hz = sys.argv[1:8]
    hz = float(hz)
    start_us = int(open(f"{work}/t.start").read())
    end_us = int(open(f"{work}/t.end").read())
    seconds = (end_us - start_us) / 1e6

    rows = []
    with open(f"{work}/trace.csv") as f:
        for r in csv.DictReader(f):
            rows.append({k: (int(v) if v else None) for k, v in r.items()})
    rows = [r for r in rows if start_us <= r["last_packet_us"] < end_us]
    sent = {}
    for line in open(f"{work}/events.jsonl"):
        e = json.loads(line)
        if e.get("event") == "frame_sent":
            sent[e["frame_id"]] = e
    sent_in_window = [e for e in sent.values() if start_us <= e["send_time_us"] < end_us]
    presented = [r for r in rows if r["presented_us"]]

    def stage(fn, source):
        return ms_stats([fn(r) for r in source])

    decode_us = sum(r["decode_end_us"] - r["decode_start_us"] for r in rows)
    intervals = [b["presented_us"] - a["presented_us"] for a, b in zip(presented, presented[1:])]
    with_agent = [r for r in presented if r["frame_id"] in sent]

    begin, end = threads(f"{work}/threads.start"), threads(f"{work}/threads.end")
    groups = {}
    video_tids = sorted(t for t, (n, _) in end.items() if n == "nb-video")
    main_tid = min(end)
    for tid, (name, ticks) in end.items():
        used = (ticks - begin.get(tid, (name, 0))[1]) / hz
        if tid == main_tid:
            group = "main thread"
        elif name == end[main_tid][0]:
            group = "unnamed (SDL, libavcodec slice workers)"
        elif name == "nb-video":
            group = "video thread" if tid == video_tids[0] else "decoder workers"
        elif name.startswith("llvmpipe"):
            group = "software rasteriser (llvmpipe)"
        elif name.startswith("nb-io"):
            group = "I/O threads"
        else:
            group = name
        groups[group] = groups.get(group, 0.0) + used
    total = sum(groups.values())
    # Decoding on the video thread is timed by the trace in wall time, which
    # a busy machine stretches with preemption; the thread's own CPU time
    # bounds it. libavcodec's slice workers are not told apart by name.
    decoder = groups.get("decoder workers", 0.0) + min(decode_us / 1e6, groups.get("video thread", 0.0))
    raster = groups.get("software rasteriser (llvmpipe)", 0.0)
    status = dict(line.split(":", 1) for line in open(f"{work}/status"))

    report = {
        "stream": f"{width}x{height}@60 {int(kbps) / 1000:g} Mbit/s",
        "seconds": round(seconds, 1),
        "load_average": [load_before, load_after],
        "frames_sent": len(sent_in_window),
        "frames_decoded": len(rows),
        "frames_presented": len(presented),
        "decoded_pct": round(100.0 * len(rows) / max(1, len(sent_in_window)), 1),
        "presented_pct": round(100.0 * len(presented) / max(1, len(sent_in_window)), 1),
        "presented_fps": round(len(presented) / seconds, 1),
        "present_interval_ms": {
            "mean": round(statistics.mean(intervals) / 1000.0, 2) if intervals else None,
            "stdev": round(statistics.pstdev(intervals) / 1000.0, 2) if intervals else None,
            "p99": round(pct(intervals, 99) / 1000.0, 2) if intervals else None},
        "capture_to_send": ms_stats([e["t_us"] - e["send_time_us"] for e in sent_in_window if "t_us" in e]),
        "first_to_last_packet": stage(lambda r: r["last_packet_us"] - r["first_packet_us"], rows),
        "assembly": stage(lambda r: r["assembled_us"] - r["last_packet_us"], rows),
        "queue_wait": stage(lambda r: r["decode_start_us"] - r["assembled_us"], rows),
        "decode": stage(lambda r: r["decode_end_us"] - r["decode_start_us"], rows),
        "last_packet_to_present": stage(lambda r: r["presented_us"] - r["last_packet_us"], presented),
        "overhead_beyond_decode_without_swap": stage(
            lambda r: r["drawn_us"] - r["last_packet_us"] - (r["decode_end_us"] - r["decode_start_us"]), presented),
        "upload_and_draw": stage(lambda r: r["drawn_us"] - r["decode_end_us"], presented),
        # The client's own work per frame: assembly and drawing, without the
        # wait behind earlier frames (which the swap of a software
        # rasteriser dominates) and without the swap itself.
        "own_overhead": stage(lambda r: (r["assembled_us"] - r["last_packet_us"]) +
                              (r["drawn_us"] - r["decode_end_us"]), presented),
        "swap": stage(lambda r: r["presented_us"] - r["drawn_us"], presented),
        "capture_to_present": stage(lambda r: r["presented_us"] - sent[r["frame_id"]]["send_time_us"], with_agent),
        "cpu_pct_of_one_core": {k: round(100.0 * v / seconds, 1) for k, v in sorted(groups.items())},
        "cpu_total_pct": round(100.0 * total / seconds, 1),
        "cpu_decode_pct": round(100.0 * decoder / seconds, 1),
        "cpu_excluding_decoder_pct": round(100.0 * (total - decoder) / seconds, 1),
        "cpu_excluding_decoder_and_rasteriser_pct": round(100.0 * (total - decoder - raster) / seconds, 1),
        "peak_rss_mb": round(int(status.get("VmHWM", "0 kB").split()[0]) / 1024.0, 1),
        "threads": int(status.get("Threads", "0").strip()),
    }
    print(json.dumps(report))


if __name__ == "__main__":
    main()
