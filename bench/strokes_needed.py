#!/usr/bin/python3
"""Strokes a simulated user needs to reach IoU 0.90 with `kelvane --script`
and with OpenCV's GrabCut, over composites whose true alpha is known.

The pictures are made here, the same from one seed on every machine: two
objects (a furry blob whose hair strands leave its outline with a coverage
of 0.2 to 0.8, and a mug whose handle encloses a hole of background) over
eight backgrounds (a plain studio backdrop, a light and a dark gradient,
grass, wood grain, brick, a blurred photograph of several colours, a sky),
each composited exactly as I = a*F + (1-a)*B from an alpha drawn at 4 x 4
samples a pixel and rounded to 8 bits.

The simulated user starts with one background stroke round the picture's
border and one object stroke, a short line along the object's main axis
through its deepest point. After every Apply (one `kelvane --script` run
that replays every stroke so far and writes the mask), it compares the
result's alpha > 127 with the truth's alpha > 0.5, takes the largest
8-connected wrong region (kept where it should be removed, or removed where
it should be kept), and adds one stroke of the kind that corrects it: a
short line along the region's main axis through its deepest point (the
maximum of its distance transform). It stops at IoU >= 0.90 (--target) or
when the strokes reach the limit (20). A stroke is sampled every few
pixels, as a pointer is: each sample marks one pixel for the filter, and
GrabCut gets the line drawn through the samples.

Methods: today's defaults, Colour Model on (every other setting at its
default), Colour Model with Refine Edge, and GrabCut from the same strokes.
A method whose setting this kelvane refuses is reported as not available.

Needs python3-opencv (and its numpy); run with the interpreter that has
them.
"""

import argparse
import concurrent.futures
import os
import shutil
import statistics
import subprocess
import sys
import time

import cv2
import numpy as np

from compare_grabcut import GRABCUT_ITERATIONS, close_work, measure, open_work

TARGET_IOU = 0.90
SCENE_SEED = 32
SUPERSAMPLE = 4
# Pixels between the samples of one stroke: a pointer moved at an easy pace.
MARK_STEP = 4
# The border stroke runs this far inside the picture's edge.
BORDER_INSET = 2
MAX_JOBS = 2

BACKGROUNDS = ["plain", "gradient", "dark", "grass", "wood", "brick", "photo", "sky"]
OBJECTS = ["hairy", "mug"]
METHODS = {
    "defaults": ("today's defaults", []),
    "colourmodel": ("Colour Model", ["set colourmodel on"]),
    "colourmodel-refine": ("Colour Model + Refine Edge", ["set colourmodel on", "set refine on"]),
    "grabcut": ("GrabCut", None),
}


# ---------------------------------------------------------------- pictures

def smooth_noise(rng, height, width, cells):
    """Noise in 0..1 varying over about width/cells pixels."""
    coarse = rng.random((max(2, cells * height // width), cells)).astype(np.float32)
    return cv2.resize(coarse, (width, height), interpolation=cv2.INTER_CUBIC)


def grain(rng, height, width, sigma):
    """Sensor noise: every picture has some, and a flat colour with none
    would be easier than any photograph."""
    return rng.normal(0, sigma, (height, width, 3)).astype(np.float32)


def mix(a, b, t):
    return (1 - t) * np.float32(a) + t * np.float32(b)


def make_background(name, rng, height, width):
    """One background, RGB float 0..255."""
    yy, xx = np.indices((height, width), dtype=np.float32)
    v = (yy / (height - 1))[..., None]
    diagonal = ((xx / (width - 1) + yy / (height - 1)) / 2)[..., None]

    if name == "plain":
        picture = np.broadcast_to(np.float32([150, 160, 168]), (height, width, 3)).copy()
        picture += grain(rng, height, width, 2.0)
    elif name == "gradient":
        picture = mix([70, 95, 125], [200, 210, 215], diagonal) + grain(rng, height, width, 2.0)
    elif name == "dark":
        # Dark enough that the object's shadows are near its colours.
        picture = mix([8, 8, 12], [55, 60, 75], v ** 1.5) + grain(rng, height, width, 2.5)
    elif name == "grass":
        picture = mix([30, 60, 15], [55, 95, 30], smooth_noise(rng, height, width, 8)[..., None])
        blades = height * width // 60
        for _ in range(blades):
            x, y = rng.uniform(0, width), rng.uniform(0, height)
            length = rng.uniform(6, 18)
            angle = -np.pi / 2 + rng.normal(0, 0.35)
            shade = rng.uniform(0.5, 1.5)
            colour = tuple(float(c) for c in np.float32([55, 120, 35]) * shade)
            cv2.line(picture, (int(x), int(y)),
                     (int(x + length * np.cos(angle)), int(y + length * np.sin(angle))),
                     colour, 1, cv2.LINE_AA)
        picture = cv2.GaussianBlur(picture, (0, 0), 0.6) + grain(rng, height, width, 3.0)
    elif name == "wood":
        # Rings round a centre far off to the left, bent by slow noise:
        # stripes that repeat every few pixels with a hue near the fur's.
        distorted = np.hypot(xx + 1.5 * width, (yy - 0.3 * height) * 0.25) \
            + 25 * smooth_noise(rng, height, width, 5)
        period = max(6.0, width / 40.0)
        ring = (0.5 + 0.5 * np.sin(2 * np.pi * distorted / period)) ** 2
        fibre = smooth_noise(rng, height, width, width // 3) * 0.3
        picture = mix([190, 135, 80], [105, 60, 30], np.clip(ring + fibre, 0, 1)[..., None])
        picture += grain(rng, height, width, 3.0)
    elif name == "brick":
        brick_h = max(8, height // 16)
        brick_w = 2 * brick_h + brick_h // 2
        mortar = max(2, brick_h // 7)
        picture = np.empty((height, width, 3), np.float32)
        picture[:] = (200, 195, 185)
        for row, top in enumerate(range(0, height, brick_h)):
            offset = (brick_w // 2) * (row % 2)
            for left in range(-offset, width, brick_w):
                colour = np.float32([180, 60, 50]) * rng.uniform(0.85, 1.1) + rng.normal(0, 6, 3)
                picture[top + mortar:top + brick_h, max(0, left + mortar):max(0, left + brick_w)] = colour
        picture = cv2.GaussianBlur(picture, (0, 0), 0.7) + grain(rng, height, width, 6.0)
    elif name == "photo":
        # A photograph far out of focus: large blobs of several colours.
        picture = np.empty((height, width, 3), np.float32)
        picture[:] = (120, 110, 100)
        palette = np.float32([[200, 60, 50], [40, 110, 190], [230, 200, 70], [60, 150, 80],
                              [170, 90, 170], [235, 235, 225], [40, 40, 45], [210, 140, 90]])
        for _ in range(40):
            centre = (int(rng.uniform(0, width)), int(rng.uniform(0, height)))
            radius = int(rng.uniform(0.05, 0.18) * width)
            colour = tuple(float(c) for c in palette[rng.integers(len(palette))])
            cv2.circle(picture, centre, radius, colour, -1, cv2.LINE_AA)
        picture = cv2.GaussianBlur(picture, (0, 0), width / 40.0) + grain(rng, height, width, 2.0)
    elif name == "sky":
        picture = mix([35, 95, 190], [200, 225, 245], v ** 0.8)
        clouds = 0.7 * smooth_noise(rng, height, width, 6) + 0.3 * smooth_noise(rng, height, width, 24)
        clouds = (np.clip((clouds - 0.5) * 2.5, 0, 1) * 0.6)[..., None]
        picture = mix(picture, [245, 248, 252], clouds) + grain(rng, height, width, 1.5)
    else:
        raise ValueError(name)
    return np.clip(picture, 0, 255)


def downsample(canvas, height, width):
    return cv2.resize(canvas, (width, height), interpolation=cv2.INTER_AREA)


def make_hairy(rng, height, width):
    """A furry blob: alpha (0..1) and colours (RGB float). The outline is a
    wobbly ellipse; several hundred strands leave it, about a pixel wide,
    with a coverage that falls from 0.2..0.8 at the root toward the tip."""
    cx, cy = 0.5 * width, 0.55 * height
    rx, ry = 0.24 * width, 0.28 * height
    waves = [(k, a, rng.uniform(0, 2 * np.pi)) for k, a in ((2, 0.05), (3, 0.06), (5, 0.04), (11, 0.02))]

    def rho(t):
        return 1.0 + sum(a * np.sin(k * t + phase) for k, a, phase in waves)

    unit = SUPERSAMPLE * 8  # 3 fraction bits
    t = np.linspace(0, 2 * np.pi, 2048, endpoint=False)
    polygon = np.stack([(cx + rx * rho(t) * np.cos(t)) * unit, (cy + ry * rho(t) * np.sin(t)) * unit], axis=1)
    canvas = np.zeros((height * SUPERSAMPLE, width * SUPERSAMPLE), np.uint8)
    cv2.fillPoly(canvas, [np.round(polygon).astype(np.int32)], 255, cv2.LINE_8, shift=3)
    body = downsample(canvas.astype(np.float32) / 255.0, height, width)

    strands = np.zeros((height * SUPERSAMPLE, width * SUPERSAMPLE), np.float32)
    scale = min(width, height) / 480.0
    for _ in range(int(500 * scale)):
        a = rng.uniform(0, 2 * np.pi)
        r = rho(a) - 0.02
        x, y = cx + rx * r * np.cos(a), cy + ry * r * np.sin(a)
        # Outward, across the ellipse's outline.
        heading = np.arctan2(np.sin(a) / ry, np.cos(a) / rx) + rng.normal(0, 0.4)
        length = rng.uniform(8, 40) * scale
        bend = rng.normal(0, 0.03)
        opacity = rng.uniform(0.2, 0.8)
        thickness = int(rng.integers(2, 5))  # samples: half a pixel to a pixel
        step = 1.5
        for i in range(int(length / step)):
            s = i * step
            direction = heading + bend * s
            nx, ny = x + step * np.cos(direction), y + step * np.sin(direction)
            cv2.line(strands, (round(x * unit), round(y * unit)), (round(nx * unit), round(ny * unit)),
                     float(opacity * (1 - 0.7 * s / length)), thickness, cv2.LINE_8, shift=3)
            x, y = nx, ny
    strands = downsample(strands, height, width)
    alpha = body + (1 - body) * strands

    # Golden-brown fur in streaks, darker toward the bottom: of a hue near
    # wood and brick.
    streak = smooth_noise(rng, height, width, max(8, width // 6))
    shade = smooth_noise(rng, height, width, 4)
    yy = np.indices((height, width), dtype=np.float32)[0] / (height - 1)
    tone = np.clip(0.6 * streak + 0.4 * shade - 0.3 * (yy - 0.5), 0, 1)[..., None]
    colours = mix([120, 75, 35], [225, 180, 115], tone)
    return alpha, colours


def make_mug(rng, height, width):
    """A mug seen from the side: a round-cornered body and a ring handle
    whose hole shows the background. Alpha 0..1 and colours (RGB float)."""
    canvas = np.zeros((height * SUPERSAMPLE, width * SUPERSAMPLE), np.uint8)
    s = SUPERSAMPLE
    left, right = int(0.26 * width * s), int(0.56 * width * s)
    top, bottom = int(0.22 * height * s), int(0.80 * height * s)
    corner = int(0.03 * width * s)
    cv2.rectangle(canvas, (left, top), (right, bottom - corner), 255, -1)
    cv2.rectangle(canvas, (left + corner, bottom - corner), (right - corner, bottom), 255, -1)
    for x in (left + corner, right - corner):
        cv2.circle(canvas, (x, bottom - corner), corner, 255, -1)
    hx, hy = right, (top + bottom) // 2
    outer = (int(0.17 * width * s), int(0.20 * height * s))
    inner = (int(0.11 * width * s), int(0.13 * height * s))
    ring = np.zeros_like(canvas)
    cv2.ellipse(ring, (hx, hy), outer, 0, 0, 360, 255, -1)
    cv2.ellipse(ring, (hx, hy), inner, 0, 0, 360, 0, -1)
    ring[:, :right] = 0  # the handle only outside the body
    alpha = downsample(np.maximum(canvas, ring).astype(np.float32) / 255.0, height, width)

    # Glazed teal, lit from the left: a cylinder's shading across the body.
    xx = np.indices((height, width), dtype=np.float32)[1]
    across = np.clip((xx - 0.26 * width) / (0.30 * width), 0, 1)
    light = (0.55 + 0.45 * np.cos((across - 0.3) * np.pi))[..., None]
    colours = mix([10, 45, 50], [40, 160, 155], light)
    highlight = np.exp(-((across - 0.25) / 0.04) ** 2)[..., None] * 0.6
    colours = mix(colours, [230, 245, 245], highlight)
    colours += rng.normal(0, 2.0, colours.shape).astype(np.float32)
    return alpha, np.clip(colours, 0, 255)


def build_scenes(work, names, objects, width, height, seed):
    """Writes each composite and its true alpha; returns (background, object,
    picture path, alpha path) per scene."""
    rng = np.random.default_rng(seed)
    # Every background and object is drawn whether chosen or not, so a
    # subset gives the same pictures as the full run.
    backgrounds = {name: make_background(name, rng, height, width) for name in BACKGROUNDS}
    made = {"hairy": make_hairy(rng, height, width), "mug": make_mug(rng, height, width)}
    scenes = []
    for obj in objects:
        alpha, colours = made[obj]
        alpha = np.round(alpha * 255) / 255.0
        alpha_path = os.path.join(work, "%s_alpha.png" % obj)
        write_png(alpha_path, np.round(alpha * 255).astype(np.uint8))
        a = alpha[..., None].astype(np.float32)
        for name in names:
            picture = np.round(a * colours + (1 - a) * backgrounds[name]).astype(np.uint8)
            path = os.path.join(work, "%s_%s.png" % (name, obj))
            write_png(path, cv2.cvtColor(picture, cv2.COLOR_RGB2BGR))
            scenes.append((name, obj, path, alpha_path))
    return scenes


def write_png(path, image):
    if not cv2.imwrite(path, image):
        sys.exit("cannot write " + path)


# ---------------------------------------------------------- simulated user

def sample_line(points):
    """A pointer's samples along a polyline: every MARK_STEP pixels, ends
    included, no sample twice in a row."""
    samples = []
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        count = max(1, int(np.ceil(np.hypot(x1 - x0, y1 - y0) / MARK_STEP)))
        for i in range(count):
            samples.append((int(round(x0 + (x1 - x0) * i / count)), int(round(y0 + (y1 - y0) * i / count))))
    samples.append(tuple(int(round(c)) for c in points[-1]))
    return [p for i, p in enumerate(samples) if i == 0 or p != samples[i - 1]]


def border_stroke(width, height):
    i = BORDER_INSET
    corners = [(i, i), (width - 1 - i, i), (width - 1 - i, height - 1 - i), (i, height - 1 - i), (i, i)]
    return sample_line(corners)


def line_through_deepest(region, length):
    """A short line inside the region (a 0/1 array): through the maximum of
    its distance transform, along the region's main axis, at most `length`
    pixels, kept off the region's edge. The picture's edge counts as an
    edge too, so the line lies in the middle of what the user sees."""
    padded = np.pad(region.astype(np.uint8), 1)
    distance = cv2.distanceTransform(padded, cv2.DIST_L2, 5)[1:-1, 1:-1]
    y, x = np.unravel_index(int(np.argmax(distance)), distance.shape)
    depth = float(distance[y, x])
    moments = cv2.moments(region.astype(np.uint8), binaryImage=True)
    angle = 0.5 * np.arctan2(2 * moments["mu11"], moments["mu20"] - moments["mu02"])
    dx, dy = np.cos(angle), np.sin(angle)
    # Deep regions keep the line well inside; thin ones only off the edge.
    margin = min(depth, max(1.5, 0.25 * depth))
    ends = []
    for sign in (-1, 1):
        reach = 0.0
        while reach + 1 <= length / 2:
            px, py = int(round(x + sign * (reach + 1) * dx)), int(round(y + sign * (reach + 1) * dy))
            if not (0 <= px < region.shape[1] and 0 <= py < region.shape[0]) or distance[py, px] < margin:
                break
            reach += 1
        ends.append((x + sign * reach * dx, y + sign * reach * dy))
    return sample_line([ends[0], (x, y), ends[1]]), depth


def largest_wrong_region(kept, truth):
    """(is_object, region) of the largest 8-connected region kept where the
    truth is background or removed where it is object."""
    best = (0, None, None)
    for is_object, wrong in ((False, kept & ~truth), (True, ~kept & truth)):
        count, labels, stats, _ = cv2.connectedComponentsWithStats(wrong.astype(np.uint8), connectivity=8)
        if count > 1:
            label = 1 + int(np.argmax(stats[1:, cv2.CC_STAT_AREA]))
            if stats[label, cv2.CC_STAT_AREA] > best[0]:
                best = (stats[label, cv2.CC_STAT_AREA], is_object, labels == label)
    return best[1], best[2]


def iou(kept, truth):
    union = np.count_nonzero(kept | truth)
    return np.count_nonzero(kept & truth) / union if union else 1.0


def stroke_line(is_object, points):
    return "%s %s" % ("object" if is_object else "background", " ".join("%d,%d" % p for p in points))


class CRunFailed(Exception):
    """A kelvane run that ended with an error or wrote no mask."""


def run_kelvane(kelvane, settings, strokes, picture, prefix, env, log):
    """One Apply over every stroke so far: the kept mask and the wall time."""
    script = prefix + ".txt"
    with open(script, "w") as f:
        f.writelines(line + "\n" for line in settings + [stroke_line(*s) for s in strokes] + ["apply", "ok"])
    # A fresh settings store for every run: the filter saves its settings
    # at OK, and one run's must not become the next one's.
    config = env["XDG_CONFIG_HOME"]
    shutil.rmtree(config, ignore_errors=True)
    os.makedirs(config)
    output = prefix + ".mask.png"
    log.flush()
    start = log.tell()
    run = measure([kelvane, "--mask", "--overwrite", "--script", script, picture, output], env, log)
    if run["exit"] != 0:
        log.flush()
        with open(log.name) as f:
            f.seek(start)
            message = " ".join(f.read().split())
        raise CRunFailed("kelvane exited with %d: %s" % (run["exit"], message[:200]))
    mask = cv2.imread(output, cv2.IMREAD_GRAYSCALE)
    if mask is None:
        raise CRunFailed("kelvane wrote no readable mask " + output)
    return mask > 127, run["wall"]


def run_grabcut(strokes, picture):
    """GrabCut from the same strokes. The mask is seeded with each stroke
    drawn as the line the user sees, one pixel wide through its samples
    (GrabCut takes no marks of its own, and a painted line is what its
    tools give it): a background stroke definite background, an object
    stroke definite foreground, later strokes over earlier ones; every
    other pixel probable foreground, so the border stroke plays the part of
    GrabCut's rectangle."""
    image = cv2.imread(picture, cv2.IMREAD_COLOR)
    mask = np.full(image.shape[:2], cv2.GC_PR_FGD, np.uint8)
    for is_object, points in strokes:
        cv2.polylines(mask, [np.array(points, np.int32)], False,
                      int(cv2.GC_FGD if is_object else cv2.GC_BGD), 1, cv2.LINE_8)
    start = time.perf_counter()
    # GrabCut starts its mixtures with k-means from OpenCV's generator: the
    # same seed every call, so a run's table is the same every time.
    cv2.setRNGSeed(SCENE_SEED)
    cv2.grabCut(image, mask, None, np.zeros((1, 65), np.float64), np.zeros((1, 65), np.float64),
                GRABCUT_ITERATIONS, cv2.GC_INIT_WITH_MASK)
    return (mask == cv2.GC_FGD) | (mask == cv2.GC_PR_FGD), time.perf_counter() - start


def simulate(task):
    """The simulated user on one scene with one method: strokes to the
    target (None if never), the final IoU, the median time of an Apply,
    and an error where the method failed."""
    name, obj, picture, alpha_path, method, kelvane, work, max_strokes, target = task
    truth = cv2.imread(alpha_path, cv2.IMREAD_GRAYSCALE) > 127  # alpha > 0.5
    height, width = truth.shape
    cv2.setNumThreads(1)
    key = "%s_%s_%s" % (name, obj, method)
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config_" + key))
    result = {"reached": None, "iou": None, "time": None, "error": None, "strokes": 0}
    object_line, _ = line_through_deepest(truth, 0.25 * min(width, height))
    strokes = [(False, border_stroke(width, height)), (True, object_line)]
    times = []
    with open(os.path.join(work, "log_%s.txt" % key), "w") as log:
        while True:
            prefix = os.path.join(work, "%s_%02d" % (key, len(strokes)))
            try:
                if method == "grabcut":
                    kept, seconds = run_grabcut(strokes, picture)
                else:
                    kept, seconds = run_kelvane(kelvane, METHODS[method][1], strokes, picture, prefix, env, log)
            except CRunFailed as failure:
                result["error"] = str(failure)
                return result
            times.append(seconds)
            result["iou"] = iou(kept, truth)
            result["strokes"] = len(strokes)
            result["time"] = statistics.median(times)
            if result["iou"] >= target:
                result["reached"] = len(strokes)
                return result
            if len(strokes) >= max_strokes:
                return result
            is_object, region = largest_wrong_region(kept, truth)
            line, _ = line_through_deepest(region, 0.08 * min(width, height))
            strokes.append((is_object, line))


# ------------------------------------------------------------------ report

def accepts(kelvane, work, env, words):
    """None if this kelvane takes the script's setting words, else its
    refusal (a script error naming the word)."""
    picture = os.path.join(work, "probe.png")
    write_png(picture, np.full((8, 8, 3), 128, np.uint8))
    script = os.path.join(work, "probe.txt")
    with open(script, "w") as f:
        f.write("\n".join(words + ["cancel"]) + "\n")
    done = subprocess.run([kelvane, "--script", script, picture, os.path.join(work, "probe.out.png")],
                          env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode == 3:  # cancelled, as the script asked
        return None
    return " ".join(done.stderr.split()) or "kelvane exited with %d" % done.returncode


def cell(result):
    if result.get("unavailable"):
        return "not available"
    if result["error"]:
        return "failed"
    reached = "%d" % result["reached"] if result["reached"] else "never"
    return "%s (%.3f)" % (reached, result["iou"])


def strokes_for_mean(result, max_strokes):
    """A scene never reached counts as the limit: what the user spent."""
    return result["reached"] or max_strokes


def report(scenes, methods, results, max_strokes, target, unavailable):
    labels = [METHODS[m][0] for m in methods]
    print("| background | object | " + " | ".join(labels) + " |")
    print("|---|---|" + "---|" * len(methods))
    for name, obj, _, _ in scenes:
        print("| %s | %s | %s |" % (name, obj, " | ".join(cell(results[name, obj, m])
                                                         for m in methods)))
    means, nevers, finals, times, ok = [], [], [], [], {}
    for m in methods:
        rows = [results[name, obj, m] for name, obj, _, _ in scenes]
        ok[m] = not any(r["error"] for r in rows)
        if m in unavailable:
            means.append("not available")
            nevers.append("not available")
            finals.append("not available")
            times.append("not available")
        elif ok[m]:
            means.append("%.1f" % statistics.mean(strokes_for_mean(r, max_strokes) for r in rows))
            nevers.append("%d of %d" % (sum(1 for r in rows if not r["reached"]), len(rows)))
            finals.append("%.3f" % statistics.mean(r["iou"] for r in rows))
            times.append("%.3f" % statistics.median(r["time"] for r in rows))
        else:
            means.append("failed")
            nevers.append("failed")
            finals.append("failed")
            times.append("failed")
    print("| **mean strokes** (never = %d) | | %s |" % (max_strokes, " | ".join(means)))
    objects = sorted({obj for _, obj, _, _ in scenes})
    for obj in objects if len(objects) > 1 else []:
        print("| mean, %s | | %s |" % (obj, " | ".join(
            "%.1f" % statistics.mean(strokes_for_mean(results[n, o, m], max_strokes)
                                     for n, o, _, _ in scenes if o == obj) if ok[m] and m not in unavailable
            else "-" for m in methods)))
    print("| **never reached** | | %s |" % " | ".join(nevers))
    print("| mean final IoU | | %s |" % " | ".join(finals))
    print("| seconds an Apply (median) | | %s |" % " | ".join(times))
    print()
    print("Cells: strokes to IoU %.2f, or never in %d, and the final IoU. Border and object"
          " stroke count as 2. An Apply's time is the whole kelvane program, PNG reading and"
          " writing included%s." % (target, max_strokes,
                                   "; GrabCut's the call alone" if "grabcut" in methods else ""))
    for m in methods:
        failures = sorted({results[name, obj, m]["error"] for name, obj, _, _ in scenes} - {None})
        if m in unavailable:
            print("%s: not available, this kelvane refuses `%s`: %s"
                  % (METHODS[m][0], "`, `".join(METHODS[m][1]), unavailable[m]))
        elif failures:
            print("%s: failed: %s" % (METHODS[m][0], "; ".join(failures)))
    print()
    print(summary(scenes, methods, results, max_strokes, target, ok))


def summary(scenes, methods, results, max_strokes, target, ok):
    """One line: each method's mean, and the Colour Model's targets (set
    for IoU 0.90) where the rows to judge them are there."""
    parts = []
    for m in methods:
        if ok[m]:
            rows = [results[name, obj, m] for name, obj, _, _ in scenes]
            parts.append("%s %.1f strokes, %d never" % (
                METHODS[m][0], statistics.mean(strokes_for_mean(r, max_strokes) for r in rows),
                sum(1 for r in rows if not r["reached"])))
        elif any(results[name, obj, m].get("unavailable") for name, obj, _, _ in scenes):
            parts.append("%s not available" % METHODS[m][0])
        else:
            parts.append("%s failed" % METHODS[m][0])
    line = "Summary over %d scenes: %s." % (len(scenes), "; ".join(parts))
    if ok.get("colourmodel") and target == TARGET_IOU:
        cm = {(n, o): strokes_for_mean(results[n, o, "colourmodel"], max_strokes) for n, o, _, _ in scenes}
        checks = ["mean %.1f <= 2.5: %s" % (statistics.mean(cm.values()),
                                            "met" if statistics.mean(cm.values()) <= 2.5 else "missed")]
        if ok.get("grabcut"):
            worse = [n + "/" + o for n, o, _, _ in scenes
                     if cm[n, o] > strokes_for_mean(results[n, o, "grabcut"], max_strokes) + 1]
            checks.append("more than one stroke above GrabCut on %s" % (", ".join(worse) or "none"))
        if ok.get("defaults"):
            worse = [n + "/" + o for n, o, _, _ in scenes if n in ("plain", "gradient", "dark")
                     and cm[n, o] > strokes_for_mean(results[n, o, "defaults"], max_strokes)]
            checks.append("above the defaults on plain and gradients: %s" % (", ".join(worse) or "none"))
        line += " Colour Model targets: " + "; ".join(checks) + "."
    return line


def parse_size(text):
    try:
        width, height = (int(v) for v in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError("a size is WIDTHxHEIGHT, such as 640x480")
    if width < 64 or height < 64:
        raise argparse.ArgumentTypeError("a side of at least 64 pixels")
    return width, height


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default="build/bin", help="folder of kelvane")
    parser.add_argument("--backgrounds", nargs="+", choices=BACKGROUNDS, default=BACKGROUNDS)
    parser.add_argument("--objects", nargs="+", choices=OBJECTS, default=OBJECTS)
    parser.add_argument("--methods", nargs="+", choices=list(METHODS), default=list(METHODS))
    parser.add_argument("--size", type=parse_size, default=(640, 480), help="WIDTHxHEIGHT (640x480)")
    parser.add_argument("--max-strokes", type=int, default=20, help="strokes before giving up (20)")
    parser.add_argument("--target", type=float, default=TARGET_IOU,
                        help="the IoU to reach (%.2f; a higher one tells apart methods that all"
                             " reach it at once)" % TARGET_IOU)
    parser.add_argument("--seed", type=int, default=SCENE_SEED, help="the pictures' seed (%d)" % SCENE_SEED)
    parser.add_argument("--jobs", type=int, default=1, choices=range(1, MAX_JOBS + 1),
                        help="scenes side by side (1, at most %d)" % MAX_JOBS)
    parser.add_argument("--work", help="folder for the pictures, scripts and results (a temporary one)")
    parser.add_argument("--keep", action="store_true", help="keep the pictures, scripts and masks")
    args = parser.parse_args()
    if args.max_strokes < 2:
        parser.error("--max-strokes must be at least 2: the border and the object stroke")

    kelvane = os.path.abspath(os.path.join(args.bin, "kelvane"))
    methods = [m for m in METHODS if m in args.methods]
    if any(m != "grabcut" for m in methods) and not os.access(kelvane, os.X_OK):
        sys.exit("no %s: build first (or give --bin)" % kelvane)
    work, env, log = open_work(args.work, "kelvane-strokes-")
    try:
        unavailable = {}
        for m in methods:
            if METHODS[m][1]:
                refused = accepts(kelvane, work, env, METHODS[m][1])
                if refused:
                    unavailable[m] = refused
        width, height = args.size
        scenes = build_scenes(work, args.backgrounds, args.objects, width, height, args.seed)
        print("%d x %d, seed %d, %s; load average %.2f" % (width, height, args.seed, kelvane,
                                                         os.getloadavg()[0]))
        tasks = [(name, obj, picture, alpha, m, kelvane, work, args.max_strokes, args.target)
                 for name, obj, picture, alpha in scenes for m in methods if m not in unavailable]
        results = {}
        for name, obj, _, _ in scenes:
            for m in unavailable:
                results[name, obj, m] = {"error": unavailable[m], "unavailable": True, "reached": None,
                                         "iou": None, "time": None}
        with concurrent.futures.ProcessPoolExecutor(args.jobs) as pool:
            for task, result in zip(tasks, pool.map(simulate, tasks)):
                results[task[0], task[1], task[4]] = result
        print()
        report(scenes, methods, results, args.max_strokes, args.target, unavailable)
    finally:
        close_work(work, log, args.keep or args.work)


if __name__ == "__main__":
    main()
