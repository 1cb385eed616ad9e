#!/usr/bin/python3
"""Pictures for a person to look at: the main window after a click on the
first sample rule set, and the stand-in host's own window showing the sample
document styled by it (paragraph styles as tints, character styles as
colours). Saved as e2e-main-window.png and e2e-styled-document.png in the
artifacts folder. The checks only make sure that the pictures show what
they should: the clicked row highlighted, and colour in the host's view.
"""

import os
import shutil

import e2e_support as e2e
from e2e_support import check


def stable_grab(s, wid, path):
    """A screenshot once two in a row agree: the window has repainted."""
    last = [None]

    def same():
        shot = e2e.grab(s, wid, path)
        if shot == last[0]:
            return shot
        last[0] = shot
        return None
    return e2e.poll(same, 10.0, "window %d stops changing" % wid, interval=0.05)


def coloured(shot, min_chroma=40, stride=7):
    """About how many pixels are clearly coloured (every stride-th looked at)."""
    w, h, px = shot
    return stride * sum(1 for o in range(0, w * h * 3, 3 * stride)
                        if max(px[o:o + 3]) - min(px[o:o + 3]) >= min_chroma)


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        shutil.copytree(os.path.join(opts.sample, "reglist"), os.path.join(home, "reglist"))
        document = os.path.join(opts.sample, "document.txt")
        rules = e2e.read_rule_set(os.path.join(home, "reglist", "Basic.txt"))

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document, windowed=True)
        host_win = host.window()
        # Out of the main window's way: no window manager places windows,
        # and a click goes to whatever lies under the pointer.
        s.run_tool("xdotool", "windowmove", str(host_win), "200", "0")
        e2e.poll(lambda: s.geometry(host_win)[:2] == (200, 0), 10.0, "the host's window moved aside")
        before = stable_grab(s, host_win, os.path.join(s.dir, "host-before.ppm"))
        runs = e2e.RunCounter(host)
        s.start_program(exe)
        win = e2e.main_window(s)

        s.click(win, 40, 8)
        with open(document, encoding="utf-8") as f:
            pieces = sum(1 for line in f if line.startswith("=== "))
        runs.expect([style for _ in range(pieces) for _, style, _ in rules], "Basic styles the sample")
        e2e.selected_row_band(s, win)

        main_png = os.path.join(opts.artifacts, "e2e-main-window.png")
        s.screenshot(win, main_png)
        check(os.path.getsize(main_png) > 0, "saved " + main_png)
        after = stable_grab(s, host_win, os.path.join(s.dir, "host-after.ppm"))
        gained = (coloured(before), coloured(after))
        check(gained[1] > gained[0] + 2000,
              "the host's view gained colour (about %d coloured pixels, %d before)" % gained[::-1])
        styled_png = os.path.join(opts.artifacts, "e2e-styled-document.png")
        s.run_tool("import", "-window", str(host_win), styled_png)
        check(os.path.getsize(styled_png) > 0, "saved " + styled_png)

        e2e.finish(s, win, runs, host)


if __name__ == "__main__":
    e2e.main(body)
