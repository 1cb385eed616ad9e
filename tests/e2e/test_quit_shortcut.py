#!/usr/bin/python3
"""The real program, first start, with the stand-in host up: the window
keeps its size limits against outside resizes in every direction, and
Ctrl+Q on the active window quits through the close handler, which saves
the frame and the box -- ticked, as at every first start -- and the program
exits 0.
"""

import os

import e2e_support as e2e
from e2e_support import check

# Content sizes asked for from outside, and what the program keeps.
RESIZES = [
    ((300, 160), (300, 160)),    # wider
    ((100, 160), (100, 160)),    # narrower
    ((100, 420), (100, 420)),    # taller
    ((100, 90), (100, 90)),      # shorter
    ((1000, 90), (400, 90)),     # beyond the widest
    ((400, 2000), (400, 600)),   # beyond the tallest
    ((20, 600), (64, 600)),      # below the narrowest
    ((64, 10), (64, 64)),        # below the lowest
    ((230, 190), (230, 190)),
]


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        e2e.write_rule_sets(os.path.join(home, "reglist"), {"R.txt": [("x", "X", "c")]})
        document = os.path.join(s.dir, "document.txt")
        e2e.write_document(document, [("1", "1", ["x"])])

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        s.start_program(exe)
        win = e2e.main_window(s)
        bar = s.bar_heights[win]
        for asked, kept in RESIZES:
            s.resize(win, asked[0], asked[1] + bar)
            want = (kept[0], kept[1] + bar)
            seen = s.wait_geometry(win, want)
            check(seen == want, "content %dx%d asked, %dx%d kept: window %s"
                  % (asked + kept + (seen,)))

        left, top = s.geometry(win)[:2]
        s.run_tool("xdotool", "windowfocus", "--sync", str(win), "key", "ctrl+q")
        status = s.wait_exit(timeout=20.0)
        out, err = s.output()
        check(status == 0, "Ctrl+Q ended the program with status 0 (got %s)\n%s%s" % (status, out, err))
        prefs = os.path.join(s.env["XDG_CONFIG_HOME"], "vellowmark.pref")
        check(os.path.exists(prefs), "the close handler wrote the preferences")
        with open(prefs, encoding="utf-8") as f:
            saved = f.read()
        want = "%d\n%d\n230\n190\n1\n" % (left, top)
        check(saved == want, "five lines: the frame and the ticked box %r (got %r)" % (want, saved))
        e2e.stop_host(host)


if __name__ == "__main__":
    e2e.main(body)
