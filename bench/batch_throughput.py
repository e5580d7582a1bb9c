#!/usr/bin/python3
"""Batch throughput of `kelvane --script --out-dir`: pictures per second
with one job and with two, and the peak memory of one job.

The input is the benchmark scene at 12 megapixels (3464 x 3464) written as
a JPEG by bench-scene, as a camera would give it, copied once per picture:
every picture costs the same, so the two runs differ only in how many
pictures work side by side. Each batch runs the same session (the scene's
strokes, Apply with the default parameters, OK) into a fresh output folder
and is timed from outside as one child process: wall time, and CPU time of
the batch and every picture process it waited for.

A job is one picture process, so the memory two jobs need is twice what one
picture run needs: that is measured on a run of its own, the peak resident
memory of that one process from wait4.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SIZE_12MP = 3464
JOBS = (1, 2)


def measure(command, env, log):
    """Wall seconds, CPU seconds (the process and the children it waited
    for), the largest peak RSS among them in MiB, and the exit status."""
    start = time.perf_counter()
    child = subprocess.Popen(command, env=env, stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    return {
        "wall": wall,
        "cpu": usage.ru_utime + usage.ru_stime,
        "rss": usage.ru_maxrss / 1024.0,  # KiB on Linux
        "exit": os.waitstatus_to_exitcode(status),
    }


def check(run, what):
    if run["exit"] != 0:
        sys.exit("%s exited with %d (see the log)" % (what, run["exit"]))


def mib(size):
    return size / (1024.0 * 1024.0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default="build/bin", help="folder of kelvane and bench-scene")
    parser.add_argument("--pictures", type=int, default=100, help="pictures in the batch (100)")
    parser.add_argument("--size", type=int, default=SIZE_12MP,
                        help="side of the square picture (%d: 12 megapixels)" % SIZE_12MP)
    parser.add_argument("--work", help="folder for the pictures and results (a temporary one)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    if args.pictures < 1:
        parser.error("--pictures must be at least 1")

    kelvane = os.path.join(args.bin, "kelvane")
    scene = os.path.join(args.bin, "bench-scene")
    for program in (kelvane, scene):
        if not os.access(program, os.X_OK):
            sys.exit("no %s: build first (or give --bin)" % program)
    work = args.work or tempfile.mkdtemp(prefix="kelvane-batch-")
    keep = args.keep or bool(args.work)
    os.makedirs(work, exist_ok=True)
    # A private settings store: neither the user's values nor earlier runs count.
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
    log = open(os.path.join(work, "log.txt"), "w")

    def path(*names):
        return os.path.join(work, *names)

    try:
        subprocess.run([scene, str(args.size), path("scene.jpg"), path("strokes.txt")], check=True)
        with open(path("session.txt"), "w") as f, open(path("strokes.txt")) as strokes:
            f.write(strokes.read())
            f.write("apply\nok\n")
        inputs = path("batch-in")
        shutil.rmtree(inputs, ignore_errors=True)
        os.makedirs(inputs)
        names = ["picture%03d" % i for i in range(args.pictures)]
        for name in names:
            shutil.copyfile(path("scene.jpg"), os.path.join(inputs, name + ".jpg"))

        print("load average before: %.2f %.2f %.2f" % os.getloadavg(), flush=True)
        # One picture alone: the memory of one job, and a warm-up that leaves
        # the program and its libraries in the page cache.
        single = measure([kelvane, "--script", path("session.txt"),
                          os.path.join(inputs, names[0] + ".jpg"), path("single.png")], env, log)
        check(single, "kelvane on one picture")

        batches = {}
        result_bytes = []
        for jobs in JOBS:
            out = path("batch-out%d" % jobs)
            shutil.rmtree(out, ignore_errors=True)
            print("%d pictures with --jobs %d ..." % (args.pictures, jobs), flush=True)
            run = measure([kelvane, "--script", path("session.txt"), "--out-dir", out,
                           "--jobs", str(jobs), inputs], env, log)
            check(run, "kelvane --jobs %d" % jobs)
            missing = [n for n in names if not os.path.isfile(os.path.join(out, n + ".png"))]
            if missing:
                sys.exit("--jobs %d wrote no result for %d pictures (first %s)"
                         % (jobs, len(missing), missing[0]))
            result_bytes = [os.path.getsize(os.path.join(out, n + ".png")) for n in names]
            batches[jobs] = run
            if not keep:
                shutil.rmtree(out, ignore_errors=True)

        megapixels = args.size * args.size / 1e6
        print("\n%d pictures of %d x %d (%.1f MP) from JPEG (%.1f MiB each) to PNG"
              " (median %.1f MiB each), default parameters"
              % (args.pictures, args.size, args.size, megapixels,
                 mib(os.path.getsize(path("scene.jpg"))), mib(statistics.median(result_bytes))))
        print("  %-10s %10s %12s %16s %18s" % ("", "wall s", "pictures/s", "CPU s/picture",
                                                "largest RSS MiB"))
        for jobs in JOBS:
            run = batches[jobs]
            print("  %-10s %10.1f %12.3f %16.2f %18.0f"
                  % ("--jobs %d" % jobs, run["wall"], args.pictures / run["wall"],
                     run["cpu"] / args.pictures, run["rss"]))
        print("  --jobs 2 / --jobs 1 throughput: %.2f x; target at least 1.7 x"
              % (batches[1]["wall"] / batches[2]["wall"]))
        print("  one job: peak RSS %.0f MiB (one picture alone, wall %.2f s, CPU %.2f s);"
              " two jobs about %.0f MiB"
              % (single["rss"], single["wall"], single["cpu"], 2 * single["rss"]))
        print("\nload average after: %.2f %.2f %.2f" % os.getloadavg())
    finally:
        log.close()
        if keep:
            print("pictures, session, results and log in", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
