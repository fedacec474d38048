#!/usr/bin/python3
"""What the Python peers do for a fitted screenshot, measured beside ours.

Pillow (Debian's python3-pil) resizes the frame, an RGB image in memory, with
BOX to 1568 px on the longer side and saves it as JPEG quality 85
(pillow_fit_jpeg, what the ratios use); pillow_fit_jpeg_from_bgrx first makes
that image of the captured BGRX bytes, as a peer holding a capture must.
Medians of nine repetitions, wall and process CPU time, one thread.

  /usr/bin/python3 tests/bench/pillow_fit.py [--frames=DIR] [--bench=screenshot_bench]

With --bench, the benchmark's fit_jpeg cases run right after in the same
script and the ratios to Pillow are printed.
"""

import io
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

FIT_SIZE = 1568
QUALITY = 85
REPETITIONS = 9
MIN_REPETITION_SECONDS = 0.5


def fitted_size(width, height, limit=FIT_SIZE):
    longer, shorter = max(width, height), min(width, height)
    if longer <= limit:
        return width, height
    scaled = max(1, (2 * shorter * limit + longer) // (2 * longer))
    return (limit, scaled) if width >= height else (scaled, limit)


def measure(body):
    """Medians of the per-call wall and CPU times (ms) over nine repetitions."""
    walls, cpus = [], []
    for _ in range(REPETITIONS):
        calls = 0
        wall0, cpu0 = time.perf_counter(), time.process_time()
        while True:
            body()
            calls += 1
            if time.perf_counter() - wall0 >= MIN_REPETITION_SECONDS:
                break
        walls.append((time.perf_counter() - wall0) * 1000 / calls)
        cpus.append((time.process_time() - cpu0) * 1000 / calls)
    return statistics.median(walls), statistics.median(cpus)


def main():
    frames = os.path.join(os.path.dirname(os.path.abspath(__file__)), "frames")
    bench = None
    for arg in sys.argv[1:]:
        if arg.startswith("--frames="):
            frames = arg.split("=", 1)[1]
        elif arg.startswith("--bench="):
            bench = arg.split("=", 1)[1]
    pillow = {}
    for name, file in (("1080p", "desk1080.png"), ("4K", "desk4k.png")):
        rgb = Image.open(os.path.join(frames, file)).convert("RGB")
        bgrx = rgb.tobytes("raw", "BGRX")
        size = fitted_size(*rgb.size)

        def from_capture():
            image = Image.frombuffer("RGB", rgb.size, bgrx, "raw", "BGRX", 0, 1)
            out = io.BytesIO()
            image.resize(size, Image.BOX).save(out, "JPEG", quality=QUALITY)
            return out

        def from_rgb():
            out = io.BytesIO()
            rgb.resize(size, Image.BOX).save(out, "JPEG", quality=QUALITY)
            return out

        jpeg_bytes = len(from_capture().getvalue())
        for case, body in (("pillow_fit_jpeg", from_rgb), ("pillow_fit_jpeg_from_bgrx", from_capture)):
            wall, cpu = measure(body)
            pillow[f"{case}/{name}"] = (wall, cpu)
            print(f"{case}/{name}: {size[0]}x{size[1]} {jpeg_bytes} bytes, "
                  f"median wall {wall:.2f} ms, cpu {cpu:.2f} ms")
    if bench is None:
        return 0
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, "--benchmark_filter=fit_jpeg(_floor)?/", f"--benchmark_out={out.name}",
                        "--benchmark_out_format=json"], check=True, stdout=subprocess.DEVNULL)
        runs = json.load(open(out.name))["benchmarks"]
    ours = {}
    for run in runs:
        if run.get("aggregate_name") == "median":
            ours[run["run_name"].split("/process_time")[0]] = (run["real_time"], run["cpu_time"])
    for name in ("1080p", "4K"):
        for case in ("fit_jpeg", "fit_jpeg_floor"):
            key = f"{case}/{name}"
            if key in ours:
                wall, cpu = ours[key]
                pw, pc = pillow[f"pillow_fit_jpeg/{name}"]
                print(f"{key}: median wall {wall:.2f} ms, cpu {cpu:.2f} ms; "
                      f"over pillow_fit_jpeg/{name}: wall {wall / pw:.3f}, cpu {cpu / pc:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
