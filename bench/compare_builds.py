#!/usr/bin/python3
"""Whole runs of two builds of `kelvane --script`, compared byte for byte.

A change that reshapes the code must leave every result as it was. This runs
the same sessions through an earlier build and this one, on the benchmark's
synthetic scenes and on photographs named with --photo, and compares the
decoded pixels of each pair of results. The sessions cover every stage: the
default settings, Textured Background, Fill Holes, smoothing with contraction
and wide feathering, a second run that combines with the first, and the
manual brush.

    bench/compare_builds.py --before /path/to/old/bin [--after build/bin] \\
        [--photo a.jpg ...] [--size 1024 ...]

Exit status 0 when every pair is equal, 1 otherwise. Needs python3-numpy and
python3-opencv (to decode the results).
"""

import argparse
import os
import subprocess
import sys
import tempfile

# Each session after the marks; `{marks}` is replaced by the picture's marks.
SESSIONS = {
    "default": "{marks}apply\nok\n",
    "textured": "set textured on\n{marks}apply\nok\n",
    "fillholes": "set fillholes on\nset strength 45\n{marks}apply\nok\n",
    "smooth-contract-feather": "set smoothing 5\nset contract 3\nset feathering 12\n{marks}apply\nok\n",
    "second-run": "{marks}apply\nset strength 60\nset fillholes on\n"
                  "background 50%,2% 50%,10%\napply\nok\n",
    "brush": "{marks}apply\nbrush 30\nerase 40%,40% 60%,60%\nrecover 45%,45%\nok\n",
}

# Marks for a photograph: its border is background, its centre the object.
PHOTO_MARKS = ("background 1%,1% 99%,1% 99%,99% 1%,99% 1%,1%\n"
               "object 45%,50% 55%,50%\n")


def run(command, env):
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("failed: " + " ".join(command) + "\n" + done.stdout + done.stderr)


def decoded(path):
    import cv2
    image = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    if image is None:
        sys.exit("cannot read " + path)
    return image


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--before", required=True, help="bin folder of the earlier build")
    parser.add_argument("--after", default="build/bin", help="bin folder of this build")
    parser.add_argument("--photo", action="append", default=[], help="a photograph to run on")
    parser.add_argument("--size", type=int, action="append", help="scene sizes (default 1024)")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="kelvane-compare-")
    env = dict(os.environ, DISPLAY="", WAYLAND_DISPLAY="",
               XDG_CONFIG_HOME=os.path.join(work, "config"))
    pictures = []
    for size in args.size or [1024]:
        picture = os.path.join(work, "scene-%d.png" % size)
        strokes = os.path.join(work, "scene-%d.txt" % size)
        run([os.path.join(args.after, "bench-scene"), str(size), picture, strokes], env)
        with open(strokes) as f:
            marks = "".join(l for l in f if l.split()[:1] in (["background"], ["object"]))
        pictures.append((picture, marks))
    pictures += [(photo, PHOTO_MARKS) for photo in args.photo]

    different = 0
    for picture, marks in pictures:
        for name, session in SESSIONS.items():
            script = os.path.join(work, "session.txt")
            with open(script, "w") as f:
                f.write(session.format(marks=marks))
            results = []
            for side, folder in (("before", args.before), ("after", args.after)):
                out = os.path.join(work, side + ".png")
                run([os.path.join(folder, "kelvane"), "--overwrite", "--script", script, picture, out], env)
                results.append(decoded(out))
            same = results[0].shape == results[1].shape and (results[0] == results[1]).all()
            different += not same
            print("%-8s %-24s %s" % ("same" if same else "DIFFERS", name,
                                      os.path.basename(picture)), flush=True)
    print("%d of %d results differ" % (different, len(pictures) * len(SESSIONS)))
    return 1 if different else 0


if __name__ == "__main__":
    sys.exit(main())
