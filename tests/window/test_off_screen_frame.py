#!/usr/bin/python3
"""The real program's window always opens on a screen.

The X server's screen is 2080 x 1024 with one or two monitors on it: "left"
(1280 x 1024 at 0,0) and, when plugged, "right" (800 x 600 at 1280,0). Each
case writes a saved frame of 300 x 200 (content) to the preferences file,
starts the program, closes the host check's box with a key, reads where the
window is, and closes the window, which saves the frame it has. A frame
whose top edge shows on a monitor comes back exactly; one off every monitor
(a far position, which X would wrap to a negative one, or a monitor that was
unplugged) opens on the nearest monitor, as far inside it as it fits, the
size kept.

Exit status 77 (skipped) while the program is not built or a tool is missing.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xharness  # noqa: E402
from xharness import Failure, Session, Skip  # noqa: E402

SIZE = (300, 200)  # content
LEFT = (0, 0, 1280, 1024)
RIGHT = (1280, 0, 800, 600)


def set_monitors(s, monitors):
    """Makes the server report these monitors (RandR 1.5), the first one
    primary and holding the server's output, so no monitor of its own covers
    the whole screen."""
    from Xlib.ext import randr
    from Xlib.protocol import rq

    class SetMonitor(rq.Request):  # python3-xlib's own cannot encode its request
        _request = rq.Struct(
            rq.Card8("opcode"), rq.Opcode(43), rq.RequestLength(), rq.Window("window"),
            rq.Card32("name"), rq.Bool("primary"), rq.Bool("automatic"), rq.LengthOf("outputs", 2),
            rq.Int16("x"), rq.Int16("y"), rq.Card16("width"), rq.Card16("height"),
            rq.Card32("mm_width"), rq.Card32("mm_height"), rq.List("outputs", rq.Card32Obj))

    d = s.x()
    root = d.screen().root
    output = randr.get_screen_resources(root).outputs[0]
    for i, (x, y, w, h) in enumerate(monitors):
        SetMonitor(display=root.display, opcode=root.display.get_extension_major(randr.extname), window=root,
                   name=d.intern_atom("MONITOR%d" % i), primary=i == 0, automatic=False,
                   x=x, y=y, width=w, height=h, mm_width=w * 254 // 960, mm_height=h * 254 // 960,
                   outputs=[output] if i == 0 else [])
    d.sync()
    got = sorted((m.x, m.y, m.width_in_pixels, m.height_in_pixels)
                 for m in randr.get_monitors(root).monitors)
    if got != sorted(monitors):
        raise Failure("the server reports the monitors %s, not %s" % (got, monitors))


def run_case(opts, exe, what, monitors, saved, expected_of):
    """expected_of(bar) gives the (left, top) the window must open at."""
    with Session(opts.tmp) as s:
        _, config = s.private_dirs()
        prefs = os.path.join(config, "vellowmark.pref")
        with open(prefs, "w", encoding="utf-8") as f:
            f.write("%d\n%d\n%d\n%d\n1\n" % (saved + SIZE))
        s.start_xvfb(screen="2080x1024x24")
        set_monitors(s, monitors)
        s.start_program(exe)
        s.dismiss_message()
        win = s.find_window()
        x, y, w, h = s.geometry(win)
        bar = h - SIZE[1]
        expected = expected_of(bar)
        if (x, y, w) != expected + (SIZE[0],) or not 10 <= bar <= 40:
            raise Failure("%s: the window opened at %s, %dx%d; expected %s, %dx(%d + bar)"
                          % (what, (x, y), w, h, expected, SIZE[0], SIZE[1]))
        s.close_window(win)
        status = s.wait_exit(timeout=20.0)
        if status != 0:
            raise Failure("%s: exit status %s after the close" % (what, status))
        with open(prefs, encoding="utf-8") as f:
            lines = f.read().splitlines()
        if lines != [str(v) for v in expected + SIZE] + ["1"]:
            raise Failure("%s: the close saved %s, not the frame the window had" % (what, lines))
        print("ok: %s: saved %s opens at %s, and the close saves that" % (what, saved, expected))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--tmp", default=None)
    opts = ap.parse_args()
    if not os.access(opts.program, os.X_OK):
        raise Skip("program not built: " + opts.program)
    xharness.require_tools("Xvfb", "xdotool")
    xharness._xlib()
    # The program's own bundle: no "reglist" beside it matters here.
    exe = opts.program

    def height(bar):
        return SIZE[1] + bar

    cases = [
        ("on the monitor", [LEFT], (120, 90), lambda bar: (120, 90)),
        ("far right", [LEFT], (99999, 90), lambda bar: (1280 - SIZE[0], 90)),
        ("far below", [LEFT], (120, 99999), lambda bar: (120, 1024 - height(bar))),
        ("far off both ways", [LEFT], (99999, 99999), lambda bar: (1280 - SIZE[0], 1024 - height(bar))),
        ("on the second monitor", [LEFT, RIGHT], (1500, 100), lambda bar: (1500, 100)),
        ("below the shorter second monitor", [LEFT, RIGHT], (1500, 700), lambda bar: (1500, 600 - height(bar))),
        ("its monitor unplugged", [LEFT], (1500, 100), lambda bar: (1280 - SIZE[0], 100)),
    ]
    failures = []
    for what, monitors, saved, expected_of in cases:
        try:
            run_case(opts, exe, what, monitors, saved, expected_of)
        except Failure as e:
            failures.append(str(e))
            print("FAIL:", e)
    return 1 if failures else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Skip as e:
        print("SKIP:", e)
        sys.exit(xharness.SKIP)
    except Failure as e:
        print("FAIL:", e)
        sys.exit(1)
