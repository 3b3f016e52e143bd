#!/usr/bin/python3
"""Probes of the runner's PNGs by what they show, for the checks of fxclient and its tour.

    png_probe.py overlay PNG        the progress overlay's dark box stands in the middle of the screen
    png_probe.py not-blank PNG      the screen shows something besides its background
    png_probe.py same PNG PNG       the two pictures are pixel for pixel the same

Exit 0 when the probe holds; 1 with a line saying what was seen.
"""
import sys

from PIL import Image, ImageChops


def load(path):
    return Image.open(path).convert("RGB")


def count(image, box, test):
    """Pixels inside box (left, top, right, bottom; clamped to the image) for which test(r, g, b) holds."""
    left, top, right, bottom = (int(round(v)) for v in box)
    left, top = max(0, left), max(0, top)
    right, bottom = min(image.width, right), min(image.height, bottom)
    if right <= left or bottom <= top:
        return 0
    return sum(1 for r, g, b in image.crop((left, top, right, bottom)).getdata() if test(r, g, b))


def dark(r, g, b):
    return r + g + b < 200


def overlay(path):
    """The box of the progress overlay: a dark square about 76 points wide in the middle."""
    image = load(path)
    w, h = image.size
    scale = w / 375.0
    centre = (w / 2 - 30 * scale, h / 2 - 30 * scale, w / 2 + 30 * scale, h / 2 + 30 * scale)
    corner = (0, 0, 40 * scale, 40 * scale)
    inside = count(image, centre, dark)
    area = (60 * scale) ** 2
    if inside < 0.5 * area:
        return "no overlay box: %d of %d middle pixels are dark" % (inside, area)
    if count(image, corner, dark):
        return "the corner is dark too: the screen is not the launch image under an overlay"
    return None


def not_blank(path):
    image = load(path)
    background = image.getpixel((image.width - 1, image.height - 1))
    differing = sum(1 for p in image.getdata() if sum(abs(a - b) for a, b in zip(p, background)) > 60)
    if differing < 0.002 * image.width * image.height:
        return "blank: %d pixels differ from the background %s" % (differing, background)
    return None


def same(first, second):
    a, b = load(first), load(second)
    if a.size != b.size:
        return "sizes differ: %s and %s" % (a.size, b.size)
    box = ImageChops.difference(a, b).getbbox()
    return None if box is None else "they differ inside %s" % (box,)


def main(argv):
    probes = {"overlay": (overlay, 1), "not-blank": (not_blank, 1), "same": (same, 2)}
    if len(argv) < 2 or argv[1] not in probes or len(argv) != 2 + probes[argv[1]][1]:
        print(__doc__, file=sys.stderr)
        return 2
    probe, _ = probes[argv[1]]
    failure = probe(*argv[2:])
    if failure:
        print("%s %s: %s" % (argv[1], " ".join(argv[2:]), failure))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
