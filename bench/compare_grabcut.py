#!/usr/bin/python3
"""Whole-program speed and memory of `kelvane --script`, and a comparison
with OpenCV's GrabCut and an ImageMagick flood fill on the same picture.

The picture and strokes are the in-process benchmark's (written by
bench-scene); at 2048 kelvane runs with the default parameters and with
Colour Model on. Each program is timed as a child process, reading and writing
PNG included: wall time, CPU time (user + system, which the load of a shared
machine distorts less) and peak resident memory from wait4. The two are run
in turn, pair by pair, so that a drift of the machine's speed affects both.

GrabCut runs 5 iterations from a mask built from the sampled mark pixels:
background marks definite background, object marks definite foreground,
every other pixel probable foreground.

The flood fill is the plainest background removal there is: every pixel
within 10 % of the colour at the first background mark, connected to it,
becomes transparent (`convert in.png -alpha set -fuzz 10% -fill none -draw
"color X,Y floodfill" out.png`).

Needs python3-opencv (and its numpy) and ImageMagick's convert; run with the
interpreter that has them.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

GRABCUT_ITERATIONS = 5
LAYER_BYTES_PER_PIXEL = 4


def print_ratios(label, fast, slow, target):
    """How many times `slow` took `fast`'s time, run by run, against a target."""
    wall = [s["wall"] / f["wall"] for f, s in zip(fast, slow)]
    cpu = [s["cpu"] / f["cpu"] for f, s in zip(fast, slow)]
    print("  %s: wall %.1f x (%.1f..%.1f), CPU %.1f x (%.1f..%.1f); target at least %d x"
          % (label, statistics.median(wall), min(wall), max(wall),
             statistics.median(cpu), min(cpu), max(cpu), target))


def read_strokes(path):
    """[(is_object, [(x, y), ...]), ...] from the marking lines of a script."""
    strokes = []
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words or words[0] not in ("background", "object"):
                continue
            points = [tuple(int(v) for v in w.split(",")) for w in words[1:]]
            strokes.append((words[0] == "object", points))
    return strokes


def grabcut_worker(picture, strokes_path, output):
    """The GrabCut side as a program of its own: read, segment, write."""
    import cv2
    import numpy as np

    times = {}
    start = time.perf_counter()
    image = cv2.imread(picture, cv2.IMREAD_COLOR)
    if image is None:
        sys.exit("cannot read " + picture)
    times["read"] = time.perf_counter() - start

    mark = time.perf_counter()
    height, width = image.shape[:2]
    mask = np.full((height, width), cv2.GC_PR_FGD, np.uint8)
    # Later strokes overwrite earlier ones, as marks do; points outside the
    # image mark the nearest edge pixel.
    for is_object, points in read_strokes(strokes_path):
        for x, y in points:
            x = min(max(x, 0), width - 1)
            y = min(max(y, 0), height - 1)
            mask[y, x] = cv2.GC_FGD if is_object else cv2.GC_BGD
    background_model = np.zeros((1, 65), np.float64)
    foreground_model = np.zeros((1, 65), np.float64)
    cv2.grabCut(image, mask, None, background_model, foreground_model, GRABCUT_ITERATIONS,
                cv2.GC_INIT_WITH_MASK)
    times["grabcut"] = time.perf_counter() - mark

    mark = time.perf_counter()
    alpha = np.where((mask == cv2.GC_FGD) | (mask == cv2.GC_PR_FGD), 255, 0).astype(np.uint8)
    if not cv2.imwrite(output, np.dstack([image, alpha])):
        sys.exit("cannot write " + output)
    times["write"] = time.perf_counter() - mark
    print(json.dumps(times))


def flood_fill_command(picture, strokes_path, output):
    """ImageMagick's flood fill from the first background mark."""
    seed = next(points[0] for is_object, points in read_strokes(strokes_path) if not is_object)
    return ["convert", picture, "-alpha", "set", "-fuzz", "10%", "-fill", "none",
            "-draw", "color %d,%d floodfill" % seed, output]


def measure(command, env, log):
    """Wall seconds, CPU seconds, peak RSS in MiB and the exit status of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(command, env=env, stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    return {
        "wall": wall,
        "cpu": usage.ru_utime + usage.ru_stime,
        "rss": usage.ru_maxrss / 1024.0,  # KiB on Linux
        "exit": child.returncode,
    }


def check(run, what):
    if run["exit"] != 0:
        sys.exit("%s exited with %d (see the log)" % (what, run["exit"]))


def median(runs, key):
    return statistics.median(r[key] for r in runs)


def spread(runs, key):
    values = [r[key] for r in runs]
    return "%.3f (%.3f..%.3f)" % (statistics.median(values), min(values), max(values))


def matte_quality(path, size):
    """Shares of the background removed and of the object kept, against the
    disc the picture was drawn with."""
    import cv2
    import numpy as np

    alpha = cv2.imread(path, cv2.IMREAD_UNCHANGED)[:, :, 3]
    y, x = np.indices(alpha.shape)
    centre, radius = size / 2.0, size * 0.3
    inside = (x + 0.5 - centre) ** 2 + (y + 0.5 - centre) ** 2 < radius ** 2
    return (alpha[~inside] == 0).mean(), (alpha[inside] == 255).mean()


def open_work(folder, prefix):
    """A benchmark's work folder (the given one, or a new temporary one), the
    environment its runs get and its log. The filter reads and saves its
    settings in the user's store: the runs keep a private one, so neither
    the user's values nor earlier runs count."""
    work = folder or tempfile.mkdtemp(prefix=prefix)
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
    return work, env, open(os.path.join(work, "log.txt"), "w")


def close_work(work, log, keep):
    """Ends a benchmark's work folder: kept (and named) or removed."""
    log.close()
    if keep:
        print("\npictures, scripts, results and log in", work)
    else:
        shutil.rmtree(work, ignore_errors=True)


def write_script(path, settings, strokes_path):
    with open(path, "w") as f:
        f.writelines(s + "\n" for s in settings)
        with open(strokes_path) as strokes:
            f.write(strokes.read())
        f.write("apply\nok\n")


EVERYTHING_ON = ["set strength 60", "set smoothing 9", "set feathering 10", "set contract 10",
                 "set fillholes on", "set textured on"]


COLOUR_MODEL = ["set colourmodel on"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default="build/bin", help="folder of kelvane and bench-scene")
    parser.add_argument("--runs", type=int, default=3, help="pairs at 2048, runs at 4096 (3)")
    parser.add_argument("--work", help="folder for the pictures and results (a temporary one)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--grabcut-worker", nargs=3, metavar=("PICTURE", "STROKES", "OUTPUT"),
                        help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.grabcut_worker:
        grabcut_worker(*args.grabcut_worker)
        return

    kelvane = os.path.join(args.bin, "kelvane")
    scene = os.path.join(args.bin, "bench-scene")
    for program in (kelvane, scene):
        if not os.access(program, os.X_OK):
            sys.exit("no %s: build first (or give --bin)" % program)
    work, env, log = open_work(args.work, "kelvane-compare-")

    def path(name):
        return os.path.join(work, name)

    try:
        for size in (2048, 4096):
            subprocess.run([scene, str(size), path("scene%d.png" % size), path("strokes%d.txt" % size)],
                           check=True)
            write_script(path("default%d.txt" % size), [], path("strokes%d.txt" % size))
            write_script(path("all%d.txt" % size), EVERYTHING_ON, path("strokes%d.txt" % size))
            write_script(path("colour%d.txt" % size), COLOUR_MODEL, path("strokes%d.txt" % size))
        # What a session costs besides its runs: reading the PNG, opening
        # the editor, one dab of the brush, writing the PNG.
        with open(path("norun2048.txt"), "w") as f:
            f.write("brush 5\nerase 0,0\nok\n")

        def run_kelvane(script, size):
            return measure([kelvane, "--overwrite", "--script", path("%s%d.txt" % (script, size)),
                            path("scene%d.png" % size), path("out_%s%d.png" % (script, size))], env, log)

        print("load average before: %.2f %.2f %.2f" % os.getloadavg())
        # Warm-up: the page cache holds the programs and pictures afterwards.
        check(run_kelvane("default", 2048), "kelvane")

        flood_command = flood_fill_command(path("scene2048.png"), path("strokes2048.txt"),
                                           path("out_flood2048.png"))
        ours, fixed, theirs, breakdown, flood, colour = [], [], [], [], [], []
        for _ in range(args.runs):
            ours.append(run_kelvane("default", 2048))
            check(ours[-1], "kelvane")
            colour.append(run_kelvane("colour", 2048))
            check(colour[-1], "kelvane with Colour Model")
            fixed.append(run_kelvane("norun", 2048))
            check(fixed[-1], "kelvane")
            log.flush()
            before = log.tell()
            theirs.append(measure([sys.executable, os.path.abspath(__file__), "--grabcut-worker",
                                   path("scene2048.png"), path("strokes2048.txt"),
                                   path("out_grabcut2048.png")], env, log))
            check(theirs[-1], "GrabCut")
            flood.append(measure(flood_command, env, log))
            check(flood[-1], "convert's flood fill")
            log.flush()
            with open(path("log.txt")) as f:
                f.seek(before)
                breakdown.append(json.loads(f.read().strip().splitlines()[-1]))

        print("\n2048 x 2048, default parameters against GrabCut (%d iterations) and a flood fill,"
              " %d rounds" % (GRABCUT_ITERATIONS, args.runs))
        print("  %-22s %-26s %-26s %s" % ("", "wall s: median (min..max)", "CPU s", "peak RSS MiB"))
        print("  %-22s %-26s %-26s %.0f" % ("kelvane --script", spread(ours, "wall"), spread(ours, "cpu"),
                                             median(ours, "rss")))
        print("  %-22s %-26s %-26s %.0f" % ("kelvane, Colour Model", spread(colour, "wall"),
                                             spread(colour, "cpu"), median(colour, "rss")))
        print("  %-22s %-26s %-26s %.0f" % ("kelvane, no Apply", spread(fixed, "wall"),
                                             spread(fixed, "cpu"), median(fixed, "rss")))
        print("  %-22s %-26s %-26s %.0f" % ("GrabCut (python3)", spread(theirs, "wall"),
                                             spread(theirs, "cpu"), median(theirs, "rss")))
        print("  %-22s %-26s %-26s %.0f" % ("flood fill (convert)", spread(flood, "wall"),
                                             spread(flood, "cpu"), median(flood, "rss")))
        print("  GrabCut inside its process: read %.3f s, mask and grabCut %.3f s, write %.3f s"
              % tuple(statistics.median(b[k] for b in breakdown) for k in ("read", "grabcut", "write")))
        print_ratios("GrabCut / kelvane, pair by pair", ours, theirs, 50)
        print_ratios("GrabCut / kelvane with Colour Model", colour, theirs, 10)
        print_ratios("flood fill / kelvane, round by round", ours, flood, 2)
        for name, result in (("kelvane", "out_default2048.png"),
                             ("colour", "out_colour2048.png"), ("GrabCut", "out_grabcut2048.png"),
                             ("flood", "out_flood2048.png")):
            removed, kept = matte_quality(path(result), 2048)
            print("  %-8s background removed %5.1f %%, object kept %5.1f %%"
                  % (name, 100 * removed, 100 * kept))

        layer_mib = 4096 * 4096 * LAYER_BYTES_PER_PIXEL / (1024.0 * 1024.0)
        print("\n4096 x 4096 (layer %.0f MiB), %d runs each; target peak RSS at most 20 x the layer"
              % (layer_mib, args.runs))
        for script, label in (("default", "default parameters"), ("all", "everything on")):
            runs = [run_kelvane(script, 4096) for _ in range(args.runs)]
            for r in runs:
                check(r, "kelvane")
            print("  %-20s wall %s s, CPU %s s, peak RSS %.0f MiB = %.1f x the layer"
                  % (label, spread(runs, "wall"), spread(runs, "cpu"), max(r["rss"] for r in runs),
                     max(r["rss"] for r in runs) / layer_mib))
        print("\nload average after: %.2f %.2f %.2f" % os.getloadavg())
    finally:
        close_work(work, log, args.keep or args.work)


if __name__ == "__main__":
    main()
