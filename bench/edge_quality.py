#!/usr/bin/python3
"""Edge quality of `kelvane --script` against a known answer, with Refine Edge
off and on.

The pictures are composites made here, so the true alpha and object colour
of every pixel are known. The object's colours are a real photo; its alpha
is drawn: a wobbly outline rendered at 4 x 4 samples a pixel (so the
outline is anti-aliased), a stretch of it defocused, and several hundred
thin curved strands, like hair, leaving the outline with a coverage of 0.2
to 0.8 that thins toward their tips. A strand carries the colour of the
photo where it leaves the outline. Object and background are combined
exactly, I = a*F + (1-a)*B in floating point, with the alpha first rounded
to 8 bits as a stored matte would be, over three backgrounds of
1024 x 768:

- plain: a studio backdrop, a smooth blue-grey diagonal gradient;
- sky: deep blue at the top to pale at the bottom, with faint clouds;
- textured: grass, the grey texture below tinted green.

A user's marks go with each picture, as session-script lines: background
strokes across the picture at nine heights, lifted where the object and its
strands are, and one object stroke round the inside of the outline and
across it. Each picture is run with the
same marks and settings (Strength 60, where the default 30 leaves much of
the backgrounds; Textured Background on for the grass) once with Refine
Edge off, once off with more feathering, and once with Refine Edge on at
the given Edge Width; GrabCut (5 iterations from the same marked pixels,
as bench/compare_grabcut.py runs it; a hard matte over the picture's own
colours) is scored beside them as a reference.

Scores, alpha in 0..1:
- SAD: the sum of |alpha error| over the picture, divided by 1000;
- MSE: the mean squared alpha error over the picture;
- band error: the cut-out composited over white (a*F + (1-a)*255 per
  channel) against the truth so composited, in levels of 0..255, averaged
  over the channels and over the soft band: the pixels where the true or
  the estimated alpha lies strictly between 0 and 1.
Time is the wall time of the whole `kelvane` process, PNG reading and
writing included.

The photo is `chelsea.png` from Debian's python3-skimage (the sample data
of scikit-image): a cat, photographed by Stefan van der Walt and released
by him under CC0 (no copyright restrictions). The grass is `grass.png` from
the same package, a texture released under CC0. `--photo` takes another
RGB picture instead.

Needs python3-opencv (and its numpy) and python3-skimage's data files; run
with the interpreter that has them.
"""

import argparse
import importlib.util
import os
import statistics
import subprocess
import sys

import cv2
import numpy as np

from compare_grabcut import GRABCUT_ITERATIONS, check, close_work, measure, open_work

WIDTH, HEIGHT = 1024, 768
SUPERSAMPLE = 4
# Every random choice of the scene comes from this seed, so every run and
# every machine scores the same pictures.
SCENE_SEED = 17
STRAND_COUNT = 700
MARK_STEP = 32
MARK_MARGIN = 14
# Background marks keep this far from the faintest strand, object marks
# this far inside the solid part: a user marks what is plainly one or the
# other.
BACKGROUND_CLEARANCE = 12
OBJECT_CLEARANCE = 6

# Band error with Refine Edge on as a share of the same run without it: a
# textured background leaves more of its own structure in the band.
TARGETS = {"plain": 0.40, "sky": 0.40, "textured": 0.60}
AIM_BAND_ERROR = 10.0


def sample_data_dir():
    """The folder of python3-skimage's sample pictures, found without
    importing the package (which would pull in matplotlib and scipy)."""
    package = importlib.util.find_spec("skimage")
    if package is None or not package.submodule_search_locations:
        sys.exit("no python3-skimage: its sample photos are the benchmark's object"
                 " (apt-get install python3-skimage, or give --photo)")
    return os.path.join(list(package.submodule_search_locations)[0], "data")


def read_rgb(path):
    image = cv2.imread(path, cv2.IMREAD_COLOR)
    if image is None:
        sys.exit("cannot read " + path)
    return cv2.cvtColor(image, cv2.COLOR_BGR2RGB)


def write_png(path, image):
    if not cv2.imwrite(path, image):
        sys.exit("cannot write " + path)


def cover(image, width, height):
    """The image scaled to cover width x height, centred and cropped."""
    scale = max(width / image.shape[1], height / image.shape[0])
    scaled = cv2.resize(image, (round(image.shape[1] * scale), round(image.shape[0] * scale)),
                        interpolation=cv2.INTER_CUBIC if scale > 1 else cv2.INTER_AREA)
    top = (scaled.shape[0] - height) // 2
    left = (scaled.shape[1] - width) // 2
    return scaled[top:top + height, left:left + width]


class CObjectShape:
    """The outline in polar form around an ellipse: x = cx + rx*rho(t)*cos t,
    y = cy + ry*rho(t)*sin t, rho a sum of a few slow waves."""

    def __init__(self, rng):
        self.cx, self.cy = 0.5 * WIDTH, 0.5 * HEIGHT
        self.rx, self.ry = 0.27 * WIDTH, 0.30 * HEIGHT
        self.waves = [(k, a, rng.uniform(0, 2 * np.pi)) for k, a in ((2, 0.05), (3, 0.06), (5, 0.04), (9, 0.015))]

    def rho(self, t):
        return 1.0 + sum(a * np.sin(k * t + phase) for k, a, phase in self.waves)

    def point(self, t, scale=1.0):
        r = self.rho(t) * scale
        return self.cx + self.rx * r * np.cos(t), self.cy + self.ry * r * np.sin(t)

    def normal(self, t):
        """Outward unit normal at the outline point of t (y grows downward)."""
        h = 1e-4
        x0, y0 = self.point(t - h)
        x1, y1 = self.point(t + h)
        nx, ny = y1 - y0, -(x1 - x0)
        length = np.hypot(nx, ny)
        return nx / length, ny / length

    def angle_of(self, x, y):
        return np.arctan2((y - self.cy) / self.ry, (x - self.cx) / self.rx)


def draw_body(shape):
    """Coverage of the outline's inside, 0..1, from 4 x 4 samples a pixel,
    with one stretch of the outline defocused."""
    t = np.linspace(0, 2 * np.pi, 4096, endpoint=False)
    x, y = shape.point(t)
    # Fixed point with fraction bits, so the polygon's corners fall between
    # the samples and not on a grid of their own.
    fraction_bits = 4
    unit = SUPERSAMPLE * (1 << fraction_bits)
    polygon = np.round(np.stack([x * unit, y * unit], axis=1)).astype(np.int32)
    canvas = np.zeros((HEIGHT * SUPERSAMPLE, WIDTH * SUPERSAMPLE), np.uint8)
    cv2.fillPoly(canvas, [polygon], 255, cv2.LINE_8, shift=fraction_bits)
    body = cv2.resize(canvas.astype(np.float32) / 255.0, (WIDTH, HEIGHT), interpolation=cv2.INTER_AREA)

    # Lower right, out of focus: a gradual edge a few pixels wide.
    yy, xx = np.indices((HEIGHT, WIDTH), dtype=np.float32)
    angle = shape.angle_of(xx + 0.5, yy + 0.5)
    weight = np.exp(-((np.angle(np.exp(1j * (angle - 0.6)))) / 0.35) ** 2).astype(np.float32)
    soft = cv2.GaussianBlur(body, (0, 0), 2.5)
    return (1 - weight) * body + weight * soft


def draw_strands(shape, rng):
    """Coverage of the strands alone, 0..1: each a curved line about a pixel
    wide whose opacity falls from 0.2..0.8 at its root toward its tip."""
    canvas = np.zeros((HEIGHT * SUPERSAMPLE, WIDTH * SUPERSAMPLE), np.float32)
    fraction_bits = 3
    unit = SUPERSAMPLE * (1 << fraction_bits)
    for _ in range(STRAND_COUNT):
        # Most strands on the upper half, as hair on a head; the rest
        # anywhere, shorter below.
        if rng.random() < 0.7:
            t = rng.uniform(np.pi, 2 * np.pi)
        else:
            t = rng.uniform(0, 2 * np.pi)
        below = np.sin(t) > 0
        length = rng.uniform(12, 45) if below else rng.uniform(15, 80)
        nx, ny = shape.normal(t)
        x, y = shape.point(t)
        # The root lies inside the outline, so a strand grows out of it.
        x, y = x - 3 * nx, y - 3 * ny
        heading = np.arctan2(ny, nx) + rng.normal(0, 0.45)
        bend = rng.normal(0, 0.015)
        wave, wavelength, phase = rng.uniform(0, 0.25), rng.uniform(15, 40), rng.uniform(0, 2 * np.pi)
        opacity = rng.uniform(0.2, 0.8)
        thickness = int(rng.integers(2, 5))  # samples: 0.5 to 1 pixel
        step = 1.5
        for i in range(int(length / step)):
            s = i * step
            direction = heading + bend * s + wave * np.sin(s / wavelength + phase)
            nx_, ny_ = x + step * np.cos(direction), y + step * np.sin(direction)
            taper = 1.0 - 0.7 * s / length
            cv2.line(canvas, (round(x * unit), round(y * unit)), (round(nx_ * unit), round(ny_ * unit)),
                     float(opacity * taper), thickness, cv2.LINE_8, shift=fraction_bits)
            x, y = nx_, ny_
    return cv2.resize(canvas, (WIDTH, HEIGHT), interpolation=cv2.INTER_AREA)


def object_colours(photo, body):
    """The photo inside the outline; outside it, each pixel takes the colour
    of the nearest pixel well inside, so a strand carries the colour of the
    fur it leaves."""
    inside = cv2.erode((body >= 0.5).astype(np.uint8), np.ones((5, 5), np.uint8))
    _, labels = cv2.distanceTransformWithLabels(1 - inside, cv2.DIST_L2, 5,
                                                labelType=cv2.DIST_LABEL_PIXEL)
    # Labels number the zero pixels of the source in raster order.
    ys, xs = np.nonzero(inside == 1)
    nearest = photo[ys[labels - 1], xs[labels - 1]]
    return np.where((body >= 0.5)[..., None], photo, nearest).astype(np.float32)


def smooth_noise(rng, cells):
    """Noise in 0..1 varying over about width/cells pixels."""
    coarse = rng.random((max(2, cells * HEIGHT // WIDTH), cells)).astype(np.float32)
    return cv2.resize(coarse, (WIDTH, HEIGHT), interpolation=cv2.INTER_CUBIC)


def backgrounds(rng, data_dir):
    yy, xx = np.indices((HEIGHT, WIDTH), dtype=np.float32)
    v = (yy / (HEIGHT - 1))[..., None]
    diagonal = ((xx / (WIDTH - 1) + yy / (HEIGHT - 1)) / 2)[..., None]

    plain = (1 - diagonal) * np.float32([55, 80, 105]) + diagonal * np.float32([170, 190, 200])

    sky = (1 - v ** 0.8) * np.float32([35, 95, 190]) + v ** 0.8 * np.float32([200, 225, 245])
    clouds = 0.7 * smooth_noise(rng, 6) + 0.3 * smooth_noise(rng, 24)
    clouds = (np.clip((clouds - 0.55) * 2.5, 0, 1) * 0.35)[..., None]
    sky = (1 - clouds) * sky + clouds * np.float32([245, 248, 252])

    grey = cv2.imread(os.path.join(data_dir, "grass.png"), cv2.IMREAD_GRAYSCALE)
    if grey is None:
        sys.exit("cannot read grass.png from python3-skimage's sample data")
    grey = cover(grey, WIDTH, HEIGHT).astype(np.float32)[..., None] / 255.0
    light = 0.85 + 0.3 * (1 - v)  # the far side of a lawn is lighter
    textured = grey * light * np.float32([120, 185, 70]) + np.float32([10, 25, 5])

    return [("plain", np.clip(plain, 0, 255)), ("sky", np.clip(sky, 0, 255)),
            ("textured", np.clip(textured, 0, 255))]


def stroke_points(x0, y0, x1, y1):
    count = max(2, int(np.hypot(x1 - x0, y1 - y0) / MARK_STEP) + 1)
    return [(round(x0 + (x1 - x0) * i / (count - 1)), round(y0 + (y1 - y0) * i / (count - 1)))
            for i in range(count)]


def marks(shape, alpha):
    """A user's strokes: across the background at several heights, lifted
    where the object and its strands are, and round the inside of the object
    and across it. Refused when an object point misses the solid inside."""
    reach = cv2.dilate((alpha > 0).astype(np.uint8), np.ones((2 * BACKGROUND_CLEARANCE + 1,) * 2, np.uint8))
    background = []
    for y in np.linspace(MARK_MARGIN, HEIGHT - 1 - MARK_MARGIN, 9).round().astype(int):
        # Runs of free pixels along the row: starts where 0 turns to 1,
        # ends one before 1 turns back to 0.
        free = np.concatenate([[0], 1 - reach[y], [0]])
        starts = np.flatnonzero(np.diff(free) == 1)
        ends = np.flatnonzero(np.diff(free) == -1) - 1
        for x0, x1 in zip(starts, ends):
            x0, x1 = max(x0, MARK_MARGIN), min(x1, WIDTH - 1 - MARK_MARGIN)
            if x1 - x0 >= MARK_STEP:
                background.append(stroke_points(x0, y, x1, y))
    t = np.linspace(0, 2 * np.pi, 40, endpoint=False)
    ring = [tuple(round(c) for c in shape.point(a, 0.6)) for a in t]
    across = stroke_points(*shape.point(np.pi, 0.6), *shape.point(0, 0.6))
    obj = [ring + [ring[0]] + across]

    solid = cv2.erode((alpha == 255).astype(np.uint8), np.ones((2 * OBJECT_CLEARANCE + 1,) * 2, np.uint8))
    for stroke in obj:
        for x, y in stroke:
            if not solid[y, x]:
                sys.exit("object mark %d,%d is not inside the object: the scene changed" % (x, y))
    return ["background " + " ".join("%d,%d" % p for p in stroke) for stroke in background] + \
           ["object " + " ".join("%d,%d" % p for p in stroke) for stroke in obj]


def build_scenes(photo_path, work):
    """Writes every composite; returns the truth (alpha 0..255, object colour)
    and, per background, its name, picture path and mark lines."""
    rng = np.random.default_rng(SCENE_SEED)
    data_dir = sample_data_dir()
    photo = cover(read_rgb(photo_path or os.path.join(data_dir, "chelsea.png")), WIDTH, HEIGHT)
    shape = CObjectShape(rng)
    body = draw_body(shape)
    strands = draw_strands(shape, rng)
    alpha = np.round((body + (1 - body) * strands) * 255).astype(np.uint8)
    colours = object_colours(photo.astype(np.float32), body)
    a = (alpha.astype(np.float32) / 255.0)[..., None]
    lines = marks(shape, alpha)
    write_png(os.path.join(work, "truth_alpha.png"), alpha)
    write_png(os.path.join(work, "truth_over_white.png"),
              cv2.cvtColor(np.round(a * colours + (1 - a) * 255).astype(np.uint8), cv2.COLOR_RGB2BGR))
    scenes = []
    for name, background in backgrounds(rng, data_dir):
        picture = np.round(a * colours + (1 - a) * background).astype(np.uint8)
        path = os.path.join(work, "%s.png" % name)
        write_png(path, cv2.cvtColor(picture, cv2.COLOR_RGB2BGR))
        scenes.append((name, path, lines))
    return alpha, colours, scenes


def score(result_path, true_alpha, true_colours):
    """SAD, MSE, band error and the band's size of one RGBA result."""
    result = cv2.imread(result_path, cv2.IMREAD_UNCHANGED)
    if result is None or result.ndim != 3 or result.shape[2] != 4:
        sys.exit("%s is not an RGBA picture" % result_path)
    if result.shape[:2] != true_alpha.shape:
        sys.exit("%s is %dx%d, not %dx%d" % ((result_path,) + result.shape[1::-1] + true_alpha.shape[::-1]))
    estimate = result[:, :, 3]
    colours = cv2.cvtColor(result[:, :, :3], cv2.COLOR_BGR2RGB).astype(np.float64)
    a_est = estimate.astype(np.float64) / 255.0
    a_true = true_alpha.astype(np.float64) / 255.0
    error = a_est - a_true
    band = ((true_alpha > 0) & (true_alpha < 255)) | ((estimate > 0) & (estimate < 255))
    over_white_est = a_est[..., None] * colours + (1 - a_est[..., None]) * 255.0
    over_white_true = a_true[..., None] * true_colours + (1 - a_true[..., None]) * 255.0
    band_error = np.abs(over_white_est - over_white_true)[band].mean()
    return {"sad": np.abs(error).sum() / 1000.0, "mse": (error ** 2).mean(),
            "band": band_error, "band_px": int(band.sum())}


# The help page's picture: the top left of the sky scene, where the strands
# are, without and with Refine Edge, over a dark grey matte.
HELP_CROP = (slice(60, 300), slice(180, 560))
HELP_MATTE = np.array([70.0, 70.0, 70.0])


def write_help_picture(path, without, refined):
    panels = []
    for result in (without, refined):
        pixels = cv2.imread(result, cv2.IMREAD_UNCHANGED)[HELP_CROP].astype(np.float64)
        alpha = pixels[:, :, 3:4] / 255.0
        panels.append(pixels[:, :, :3] * alpha + HELP_MATTE * (1.0 - alpha))
    gap = np.full((panels[0].shape[0], 8, 3), 255.0)
    write_png(path, np.rint(np.hstack([panels[0], gap, panels[1]])).astype(np.uint8))


def write_script(path, settings, mark_lines):
    with open(path, "w") as f:
        f.writelines(line + "\n" for line in settings + mark_lines + ["apply", "ok"])


def knows_refine(kelvane, work, env):
    """Whether this kelvane takes the Refine Edge words (a script error, exit
    status 2, where it does not)."""
    picture = os.path.join(work, "probe.png")
    write_png(picture, np.full((8, 8, 3), 128, np.uint8))
    script = os.path.join(work, "probe.txt")
    with open(script, "w") as f:
        f.write("set refine off\nset edgewidth 10\ncancel\n")
    done = subprocess.run([kelvane, "--script", script, picture, os.path.join(work, "probe.out.png")],
                          env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode == 3:
        return True
    if done.returncode == 2 and "refine" in done.stderr:
        return False
    sys.exit("kelvane's probe ended with %d: %s" % (done.returncode, done.stderr.strip()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", default="build/bin", help="folder of kelvane")
    parser.add_argument("--strength", type=int, default=60,
                        help="Strength of every run (60: the backgrounds go, the object stays)")
    parser.add_argument("--edgewidth", type=int, nargs="+", default=[10, 30],
                        help="Edge Width of the runs with Refine Edge, one run each (10 30: the"
                             " default, and one as wide as the strands reach past the matte)")
    parser.add_argument("--feathering", type=int, default=3,
                        help="Feathering of the extra run without Refine Edge (3; 0 leaves it out)")
    parser.add_argument("--runs", type=int, default=1, help="runs of each setting; times are medians (1)")
    parser.add_argument("--no-grabcut", action="store_true", help="leave out the GrabCut reference")
    parser.add_argument("--photo", help="the object's colours from this picture instead of the cat")
    parser.add_argument("--work", help="folder for the pictures, scripts and results (a temporary one)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--help-picture", metavar="PNG",
                        help="also write the help page's before-and-after picture of the sky scene"
                             " (resources/Help/refine-edge.png), with the widest Edge Width")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    kelvane = os.path.join(args.bin, "kelvane")
    if not os.access(kelvane, os.X_OK):
        sys.exit("no %s: build first (or give --bin)" % kelvane)
    work, env, log = open_work(args.work, "kelvane-edge-")
    grabcut = os.path.join(os.path.dirname(os.path.abspath(__file__)), "compare_grabcut.py")

    def path(name):
        return os.path.join(work, name)

    try:
        refine = knows_refine(kelvane, work, env)
        true_alpha, true_colours, scenes = build_scenes(args.photo, work)
        soft = int(((true_alpha > 0) & (true_alpha < 255)).sum())
        print("%d x %d, %d soft pixels in the true alpha" % (WIDTH, HEIGHT, soft))
        if not refine:
            print("this kelvane has no Refine Edge (`set refine` is refused): runs without it only")

        for name, picture, mark_lines in scenes:
            base = ["set strength %d" % args.strength] + (["set textured on"] if name == "textured" else [])
            settings = [("off", "refine off", base + (["set refine off"] if refine else []))]
            if args.feathering:
                settings.append(("feather", "refine off, feathering %d" % args.feathering,
                                 settings[0][2] + ["set feathering %d" % args.feathering]))
            for width in args.edgewidth if refine else []:
                settings.append(("on%d" % width, "refine on, edge width %d" % width,
                                 base + ["set refine on", "set edgewidth %d" % width]))
                settings.append(("cm%d" % width, "+ colour model, width %d" % width,
                                 base + ["set colourmodel on", "set refine on",
                                         "set edgewidth %d" % width]))
            rows = {}
            for key, label, lines in settings:
                script = path("%s_%s.txt" % (name, key))
                write_script(script, lines, mark_lines)
                output = path("%s_%s.out.png" % (name, key))
                runs = [measure([kelvane, "--script", script, picture, output], env, log)
                        for _ in range(args.runs)]
                for r in runs:
                    check(r, "kelvane (%s, %s)" % (name, label))
                rows[key] = dict(score(output, true_alpha, true_colours), label=label,
                                 time=statistics.median(r["wall"] for r in runs))
            if not args.no_grabcut:
                output = path("%s_grabcut.out.png" % name)
                run = measure([sys.executable, grabcut, "--grabcut-worker", picture,
                               path("%s_off.txt" % name), output], env, log)
                check(run, "GrabCut")
                rows["grabcut"] = dict(score(output, true_alpha, true_colours),
                                       label="GrabCut (%d iterations)" % GRABCUT_ITERATIONS, time=run["wall"])

            print("\n%s: %s" % (name, ", ".join(line[4:] for line in base)))
            print("  %-28s %8s %9s %9s %8s %7s" % ("setting", "SAD", "MSE", "band err", "band px", "time s"))
            for row in rows.values():
                print("  %-28s %8.2f %9.5f %9.2f %8d %7.2f"
                      % (row["label"], row["sad"], row["mse"], row["band"], row["band_px"], row["time"]))
            for width in args.edgewidth if refine else []:
                on, off = rows["on%d" % width], rows["off"]
                ratio = on["band"] / off["band"]
                print("  width %d on / off: band error %.0f %% (target at most %.0f %%: %s), SAD %.2f x"
                      " (target at most 1: %s); band error %.1f (aim %.0f or less: %s)"
                      % (width, 100 * ratio, 100 * TARGETS[name], "met" if ratio <= TARGETS[name] else "missed",
                         on["sad"] / off["sad"], "met" if on["sad"] <= off["sad"] else "missed",
                         on["band"], AIM_BAND_ERROR, "met" if on["band"] <= AIM_BAND_ERROR else "missed"))
                with_model = rows["cm%d" % width]
                print("  width %d with Colour Model: band error %.2f against %.2f without (target no"
                      " worse: %s), SAD %.2f against %.2f"
                      % (width, with_model["band"], on["band"],
                         "met" if with_model["band"] <= on["band"] else "missed",
                         with_model["sad"], on["sad"]))
        if args.help_picture and refine:
            write_help_picture(args.help_picture, path("sky_off.out.png"),
                               path("sky_on%d.out.png" % max(args.edgewidth)))
    finally:
        close_work(work, log, args.keep or args.work)


if __name__ == "__main__":
    main()
