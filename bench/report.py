#!/usr/bin/env python3
"""Runs the benchmarks of a build and prints one table: operation, median,
min, max, and the ratio to its reference measured in the same run.

    bench/report.py BUILD_DIR [--cpu-seconds N]
"""

import json
import os
import statistics
import subprocess
import sys
from pathlib import Path

REPETITIONS = 5

# Benchmark name -> (reference name or fixed figure in microseconds, target).
REFERENCES = {
    "BM_Tick_Recording": ("BM_Floor", 1.5),
    "BM_Tick_Recording_No_Stamp": ("BM_Floor_No_Stamp", 1.5),
    "BM_Tick_Recording_Paced/iterations:20/manual_time": ("BM_Floor", 2.5),
    "BM_Step_Live_View": ("BM_Step_Live_View_Smooth_Whole", 1.0),
    "BM_Step_Destination/100": (100.0, 1.0),
    "BM_Step_Destination/1000": (100.0, 1.0),
    "BM_Step_Destination/29999": (100.0, 1.0),
    "BM_Calc_Coef_Correl/640/480": (10.0, 1.0),
    "BM_Calc_Coef_Correl/1280/720": (10.0, 1.0),
    "BM_Calc_Coef_Correl/1920/1080": (10.0, 1.0),
    "BM_Motion_Detector_Plain/1920/1080": ("BM_Calc_Coef_Correl/1920/1080", 1.2),
    "BM_Motion_Detector_Eight_Areas/1920/1080": (40.0, 1.0),
    "BM_Tick_Recording_Hide_Area": ("BM_Tick_Recording", 1.1),
    "BM_Tick_Waiting_Pre_Capture": ("BM_Tick_Waiting", 1.5),
    "BM_Tick_Waiting_Pre_Capture_Paced/iterations:40/manual_time":
        ("BM_Tick_Waiting_Paced/iterations:40/manual_time", 1.3),
    # Five pictures from before the motion and the episode's own: six, each
    # from a frame that has left the caches, as a paced tick's.
    "BM_Tick_Episode_Start_Pre_Capture": ("BM_Tick_Episode_Start", 9.0),
    "BM_Upload_Queue_Append/10/manual_time": (100.0, 1.0),
    "BM_Upload_Queue_Append/10000/manual_time": (100.0, 1.0),
    "BM_Upload_Steady/ftps/real_time": ("BM_Upload_Steady/plain/real_time", 1.5),
    "BM_Upload_First_Of_Episode/ftps/real_time": ("BM_Upload_First_Of_Episode/plain/real_time", 1.5),
    "BM_Upload_Steady_Sftp/real_time": ("BM_Upload_Steady/plain/real_time", 1.5),
    # The days, the newest day's episodes and the rows in view of a month of
    # pictures, from the menu click: 300 ms.
    "BM_Episodes_Open_Window": (300000.0, 1.0),
    # An eighth of the size skips most of the inverse transform and the
    # colour conversion of all but one pixel in 64, but not the entropy
    # decoding, which a noisy picture makes the larger part.
    "BM_Decode_Thumbnail_640": ("BM_Decode_Full_640", 0.6),
}

# Counters worth a column of their own, by the name a benchmark gives them.
RATES = {"pictures_per_second": "pictures/s", "p99_us": "µs at the 99th percentile"}
rates = {}

# The pictures from before the motion at 1280 x 720: how many, and a frame's
# pixel memory.
PRE_CAPTURE = 5
FRAME_BYTES = 1280 * 720 * 4
MIB = 1024 * 1024
held = {}


def run(binary, env=None):
    out = subprocess.run(
        [str(binary), f"--benchmark_repetitions={REPETITIONS}", "--benchmark_format=json",
         "--benchmark_min_time=0.2"],
        check=True, capture_output=True, text=True, env=env).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b["time_unit"]]
        times.setdefault(b["run_name"], []).append(b["real_time"] * scale)
        for counter, unit in RATES.items():
            if counter in b:
                rates.setdefault(b["run_name"], []).append((b[counter], unit))
        if "pre_capture_bytes" in b:
            held.setdefault(b["run_name"], []).append(b["pre_capture_bytes"])
    return times


def peak_rss_kib(binary, pictures_before, env):
    out = subprocess.run([str(binary), str(pictures_before)], check=True, capture_output=True,
                         text=True, env=env).stdout
    return json.loads(out)["peak_rss_kib"]


def print_pre_capture_memory(build, env):
    """The ring's own pixel memory once full, limited to its frames, and the
    process's peak memory over the same ticks with and without it, limited to
    the ring's frames and the one it let go for the camera."""
    print()
    print("| memory (1280 × 720) | MiB | limit MiB |")
    print("|---|---|---|")
    for name, values in held.items():
        mib = statistics.median(values) / MIB
        print(f"| {name}: pre-capture ring held, N = {PRE_CAPTURE} | {mib:.1f} | "
              f"≤ {PRE_CAPTURE * FRAME_BYTES / MIB:.1f} |")
    binary = build / "bench" / "vistrel_bench_pre_capture_memory"
    if binary.exists():
        extra = [peak_rss_kib(binary, PRE_CAPTURE, env) - peak_rss_kib(binary, 0, env)
                 for _ in range(3)]
        mib = statistics.median(extra) / 1024
        print(f"| peak RSS with N = {PRE_CAPTURE} less without | {mib:.1f} | "
              f"≤ {(PRE_CAPTURE + 1) * FRAME_BYTES / MIB:.1f} |")


def print_episodes_playing(build, env):
    """The recording tick on the event loop, 200 ms apart for 10 s, with the
    Episodes window closed and with it playing a 640 × 480 episode taken at
    200 ms at 16× (80 pictures a second)."""
    binary = build / "bench" / "vistrel_bench_episodes_playing"
    if not binary.exists():
        return
    runs = {}
    for case in ("closed", "playing"):
        out = subprocess.run([str(binary), case], check=True, capture_output=True, text=True,
                             env=env).stdout
        runs[case] = json.loads(out)
    closed, playing = runs["closed"], runs["playing"]
    print()
    print("| recording tick, 200 ms | Episodes window closed | playing at 16× |")
    print("|---|---|---|")
    for key, label in (("tick_median_ms", "tick's time, median ms"),
                       ("tick_p99_ms", "tick's time, 99th percentile ms"),
                       ("late_median_ms", "lateness, median ms"),
                       ("late_p99_ms", "lateness, 99th percentile ms")):
        print(f"| {label} | {closed[key]:.2f} | {playing[key]:.2f} |")
    print(f"| ticks | {closed['ticks']} | {playing['ticks']} |")
    print(f"| pictures shown per second (80 due) | | {playing['shown_per_second']:.1f} |")
    print(f"| pictures passed over, in how many skips | | "
          f"{playing['passed_over']} in {playing['skip_events']} |")


def main():
    build = Path(sys.argv[1])
    cpu_seconds = sys.argv[sys.argv.index("--cpu-seconds") + 1] if "--cpu-seconds" in sys.argv else "60"
    # A memory file system keeps the disk's noise out of the tick's figures.
    shm = dict(os.environ, TMPDIR="/dev/shm") if os.path.isdir("/dev/shm") else None
    times = {}
    for name, env in (("vistrel_bench_motion", None), ("vistrel_bench_tick", shm),
                      ("vistrel_bench_capture", None), ("vistrel_bench_ftp", None),
                      ("vistrel_bench_queue", None), ("vistrel_bench_drain", None),
                      ("vistrel_bench_episodes", shm),
                      ("vistrel_bench_thumbnail", None)):
        binary = build / "bench" / name
        if binary.exists():
            times.update(run(binary, env))

    print(f"| operation | median µs | min µs | max µs | ratio to reference (target) |")
    print("|---|---|---|---|---|")
    for name, values in times.items():
        median = statistics.median(values)
        ratio = ""
        if name in REFERENCES:
            reference, target = REFERENCES[name]
            base = statistics.median(times[reference]) if isinstance(reference, str) else reference
            label = reference if isinstance(reference, str) else f"{reference:g} µs"
            ratio = f"{median / base:.2f} × {label} (≤ {target:g})"
        if name in rates:
            values_per_unit = [v for v, _ in rates[name]]
            ratio = f"{statistics.median(values_per_unit):.0f} {rates[name][0][1]}"
        print(f"| {name} | {median:.1f} | {min(values):.1f} | {max(values):.1f} | {ratio} |")

    print_pre_capture_memory(build, shm)
    print_episodes_playing(build, shm)

    cpu = Path(__file__).with_name("program_cpu.py")
    print()
    subprocess.run([sys.executable, str(cpu), str(build / "vistrel"), cpu_seconds], check=True)
    print()
    compare = Path(__file__).with_name("motion_compare.py")
    floors = []
    for option, name in (("--floor-recording-us", "BM_Floor_Program_Recording"),
                         ("--floor-calm-us", "BM_Floor_Program_Calm")):
        if name in times:
            floors += [option, f"{statistics.median(times[name]):.1f}"]
    subprocess.run([sys.executable, str(compare), str(build / "vistrel"), "--seconds", cpu_seconds]
                   + floors, check=True)


if __name__ == "__main__":
    main()
