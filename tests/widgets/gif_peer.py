#!/usr/bin/env python3
"""Writes animated GIFs with Pillow and Pillow's own composed frames of each.

Usage: gif_peer.py OUTDIR. For every name it writes NAME.gif and NAME.K.png (frame K as RGBA),
then prints "NAME FRAMES WIDTH HEIGHT" per file.
"""
import sys
from PIL import Image, ImageDraw

out = sys.argv[1]


def palette_image(w, h, palette, fill=0):
    im = Image.new("P", (w, h), fill)
    flat = []
    for rgb in palette:
        flat += list(rgb)
    im.putpalette(flat + [0] * (768 - len(flat)))
    return im


def squares(n, w, h, palette):
    frames = []
    for i in range(n):
        im = palette_image(w, h, palette, 0)
        d = ImageDraw.Draw(im)
        d.rectangle([i * 6, i * 5, i * 6 + 11, i * 5 + 9], fill=1 + i % (len(palette) - 1))
        frames.append(im)
    return frames


BASE = [(0, 0, 0), (255, 0, 0), (0, 200, 0), (0, 0, 255), (250, 250, 0)]
OTHER = [(0, 0, 0), (0, 255, 255), (255, 0, 255), (128, 128, 128), (255, 255, 255)]


def write(name, frames, **kw):
    path = f"{out}/{name}.gif"
    frames[0].save(path, save_all=True, append_images=frames[1:], optimize=False, **kw)
    im = Image.open(path)
    count = 0
    try:
        while True:
            im.convert("RGBA").save(f"{out}/{name}.{count}.png")
            count += 1
            im.seek(im.tell() + 1)
    except EOFError:
        pass
    print(name, count, frames[0].width, frames[0].height)


# Delays of 0, 100 and 200 ms; disposal 1 (keep) throughout.
write("keep", squares(3, 40, 30, BASE), duration=[0, 100, 200], disposal=1, transparency=0, loop=0)
# Disposal 2 (background) with transparency: each square vanishes before the next.
write("background", squares(4, 40, 30, BASE), duration=50, disposal=2, transparency=0, loop=0)
# The comment "ab\0;cd" and loop count 15104 (0x3B00) whose bytes hold 0x00 0x3B.
write("comment", squares(3, 32, 32, BASE), duration=70, disposal=1, transparency=0, loop=15104,
      comment=b"ab\x00;cd\xf9\x04")
# Frames with their own palettes (local colour tables).
local = squares(3, 36, 28, BASE)
local[1] = squares(2, 36, 28, OTHER)[1]
write("local", local, duration=40, disposal=1, transparency=0, loop=0)
# The first frame without a control extension (delay 0, no transparency), as Pillow writes it.
write("firstbare", squares(3, 30, 20, BASE), duration=[0, 100, 100], loop=0)
