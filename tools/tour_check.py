#!/usr/bin/python3
"""Runs fxclient's tour and checks it by what its pictures show.

    tour_check.py <fxclient binary> <scratch folder>

The tour runs twice (every step must see what it expects, and the two runs must draw the same
pictures), once more on the first run's kept home (the tour sets up its state afresh), then once
under a Thai and once under a Persian locale. The pictures of the first run and of the two locale
runs are probed where the tour's first step says the chart and the board are: candles in both
colours inside the chart, candles across the chart after the pinch, the board's text changed by the
next quotes, the keyboard in the search and gone after going back, the alert's two buttons, the
lock page present and then gone, the waiting call's overlay over the page and gone with the answer. Every failure is printed; the exit is 1 when there was one.
"""
import glob
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from png_probe import count, dark, load  # noqa: E402

RISING = (208, 64, 45)      # the chart's rising candles
FALLING = (23, 176, 62)     # and falling ones
KEYBOARD = (209, 213, 220)  # the keyboard panel's background
ALERT_BUTTON = (0, 122, 255)
LOCK = (38, 50, 56)         # the lock page's background
TITLE_RED = (198, 40, 40)   # the home page's title bar
KEYBOARD_HEIGHT = 216
STEPS = 24

failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text, flush=True)


def near(colour, tolerance=24):
    return lambda r, g, b: abs(r - colour[0]) + abs(g - colour[1]) + abs(b - colour[2]) <= tolerance


def run(client, out, keys, env=None, extra=()):
    shutil.rmtree(out, ignore_errors=True)
    with open(out + ".txt", "w") as log:
        code = subprocess.call([client, "--tour", "--out", out, "--keys", keys, *extra], stdout=log,
                               stderr=subprocess.STDOUT, env=env)
    lines = open(os.path.join(out, "startup.log"), encoding="utf-8").read().splitlines() \
        if os.path.exists(os.path.join(out, "startup.log")) else []
    failed = [l.split("] ", 1)[-1] for l in lines if ": FAILED: " in l]
    return code, failed, lines


def expect_tour(name, code, failed):
    if code != 0:
        fail("%s: the tour exited %d; %s" % (name, code, "; ".join(failed) or "no step failed"))


def rect_of(lines, what):
    """The screen rectangle the tour's first step logged for `what` ("chart", "board")."""
    for line in lines:
        m = re.search(r"%s at \(([-\d.]+), ([-\d.]+)\) ([\d.]+)x([\d.]+)" % what, line)
        if m:
            x, y, w, h = (float(v) for v in m.groups())
            return x, y, x + w, y + h
    return None


def probes(out, lines):
    """Probes one run's pictures; each failure names the run's folder."""
    run_name = os.path.basename(out)
    report = lambda text: fail("%s: %s" % (run_name, text))
    shot = lambda name: load(glob.glob(os.path.join(out, "tour-*-%s.png" % name))[0])
    pictures = glob.glob(os.path.join(out, "tour-*.png"))
    if len(pictures) != STEPS:
        report("%d tour pictures, not %d" % (len(pictures), STEPS))
        return
    chart, board = rect_of(lines, "chart"), rect_of(lines, "board")
    if not chart or not board:
        report("the first step did not say where the chart and the board are")
        return

    # Candles of both colours inside the chart's rectangle, none of its colours left of it.
    home = shot("home")
    rising, falling = count(home, chart, near(RISING)), count(home, chart, near(FALLING))
    if rising < 100 or falling < 100:
        report("tour-01-home: %d rising and %d falling candle pixels in the chart" % (rising, falling))

    # After the pinch the candles still reach from the chart's left end to its right end.
    pinch = shot("pinch")
    left, top, right, bottom = chart
    fifth = (right - left) / 5
    for side, box in (("left", (left, top, left + fifth, bottom)), ("right", (right - fifth, top, right, bottom))):
        pixels = count(pinch, box, lambda r, g, b: near(RISING)(r, g, b) or near(FALLING)(r, g, b))
        if pixels < 30:
            report("tour-05-pinch: %d candle pixels in the chart's %s fifth" % (pixels, side))

    # The next quotes change the board's text, and nothing above it.
    first, second = shot("home"), shot("quotes")
    changed = count_changed(first, second, board)
    if changed < 200:
        report("tour-02-quotes: %d board pixels changed" % changed)
    if count_changed(first, second, (0, 0, first.width, chart[1])):
        report("tour-02-quotes: the title bar changed")

    # The keyboard stands in the search and has gone once the search is left.
    screen_w, screen_h = first.size
    panel = (0, screen_h - KEYBOARD_HEIGHT + 4, screen_w, screen_h)
    area = screen_w * (KEYBOARD_HEIGHT - 4)
    search = count(shot("search"), panel, near(KEYBOARD, 12))
    if search < 0.3 * area:
        report("tour-07-search: no keyboard (%d panel pixels)" % search)
    back = count(shot("watchlist-back"), panel, near(KEYBOARD, 12))
    if back > 0.02 * area:
        report("tour-09-watchlist-back: the keyboard is still there (%d panel pixels)" % back)

    # The alert dims the screen and shows its two buttons side by side.
    alert, before = shot("alert"), shot("board-order")
    if not near(TITLE_RED, 40)(*before.getpixel((screen_w - 10, 10))):
        report("tour-11-board-order: the home page's title bar is not there")
    if near(TITLE_RED, 40)(*alert.getpixel((screen_w - 10, 10))):
        report("tour-12-alert: the screen behind the alert is not dimmed")
    row = (screen_w / 2 - 135, screen_h / 2 - 60, screen_w / 2 + 135, screen_h / 2 + 80)
    halves = [count(alert, (row[0], row[1], screen_w / 2, row[3]), near(ALERT_BUTTON, 60)),
              count(alert, (screen_w / 2, row[1], row[2], row[3]), near(ALERT_BUTTON, 60))]
    if min(halves) < 40:
        report("tour-12-alert: button title pixels %s in the alert's two halves" % halves)
    if count(shot("alert-answer"), row, near(ALERT_BUTTON, 60)) > 10:
        report("tour-13-alert-answer: the alert is still there")

    # The lock page covers the screen on the way back, and is gone after unlocking.
    lock = count(shot("lock"), (0, 0, screen_w, screen_h), near(LOCK, 12))
    if lock < 0.8 * screen_w * screen_h:
        report("tour-19-lock: %d of %d pixels are the lock page's" % (lock, screen_w * screen_h))
    unlocked = shot("unlock")
    if count(unlocked, (0, 0, screen_w, screen_h), near(LOCK, 12)) > 0.02 * screen_w * screen_h:
        report("tour-20-unlock: the lock page is still there")
    if not near(TITLE_RED, 40)(*unlocked.getpixel((screen_w - 10, 30))):
        report("tour-20-unlock: the home page is not there")

    # The waiting call's overlay: a dark box over the page's middle, gone with the answer.
    middle = (screen_w / 2 - 30, screen_h / 2 - 30, screen_w / 2 + 30, screen_h / 2 + 30)
    waiting = count(shot("waiting"), middle, dark)
    if waiting < 0.5 * 60 * 60:
        report("tour-23-waiting: no overlay box (%d of %d middle pixels are dark)" % (waiting, 60 * 60))
    answered, before = count(shot("waiting-answer"), middle, dark), count(shot("home-again"), middle, dark)
    if answered > before + 0.02 * 60 * 60:
        report("tour-24-waiting-answer: the overlay is still there (%d dark middle pixels, %d before)" %
               (answered, before))


def count_changed(a, b, box):
    left, top, right, bottom = (int(round(v)) for v in box)
    pa, pb = a.crop((left, top, right, bottom)).getdata(), b.crop((left, top, right, bottom)).getdata()
    return sum(1 for x, y in zip(pa, pb) if sum(abs(i - j) for i, j in zip(x, y)) > 60)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    client, work = argv[1], argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    keys = os.path.join(work, "keys")

    a, b = os.path.join(work, "a"), os.path.join(work, "b")
    code, failed, lines = run(client, a, keys)
    expect_tour("the tour", code, failed)
    probes(a, lines)
    code, failed, _ = run(client, b, keys)
    expect_tour("the second tour", code, failed)
    for picture in sorted(glob.glob(os.path.join(a, "tour-*.png"))):
        other = os.path.join(b, os.path.basename(picture))
        if not os.path.exists(other) or open(picture, "rb").read() != open(other, "rb").read():
            fail("%s differs between two virtual runs" % os.path.basename(picture))

    # Again on the home the first tour left (its watch list, its visits): the tour sets up afresh.
    code, failed, _ = run(client, os.path.join(work, "kept"), keys, extra=("--home", os.path.join(a, "home")))
    expect_tour("the tour on a kept home", code, failed)

    for locale in ("th_TH.UTF-8", "fa_IR.UTF-8"):
        env = dict(os.environ, LC_ALL=locale, LANG=locale)
        out = os.path.join(work, locale.split(".")[0])
        code, failed, lines = run(client, out, keys, env)
        expect_tour("the tour under %s" % locale, code, failed)
        probes(out, lines)

    if failures:
        print("%d tour checks failed" % len(failures))
        return 1
    print("the tour and its pictures passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
