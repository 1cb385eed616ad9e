#!/usr/bin/python3
"""The window's frame and box survive a restart through the preferences
file. A first start reads a file whose left and top lie above the screen's
allowed corner (raised to 10 and 40); the user then moves and resizes the
window and clears the box; the close writes exactly five lines, and the next
start puts the window back there with the box cleared, which its first run
shows in the flag it sends.

The flag is read off one run: the character rule styles every "x", then the
paragraph rule takes the first paragraph, and with flag "1" that clears the
paragraph's character styles, with flag "0" it keeps them.
"""

import os

import e2e_support as e2e
from e2e_support import check

DOCUMENT = [("1", "1", ["note x", "plain x"])]
RULES = [("x", "X", "c"), ("^note", "Note", "p")]
MOVED = (210, 150)
RESIZED = (220, 280)  # content


def read_prefs(path):
    with open(path, encoding="utf-8") as f:
        return f.read().split("\n")


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        e2e.write_rule_sets(os.path.join(home, "reglist"), {"F.txt": RULES})
        document = os.path.join(s.dir, "document.txt")
        e2e.write_document(document, DOCUMENT)
        _, config = s.private_dirs()
        prefs = os.path.join(config, "vellowmark.pref")
        with open(prefs, "w", encoding="utf-8") as f:
            f.write("5\n20\n300\n200\n1\n")

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        runs = e2e.RunCounter(host)

        # First start: the file's frame, clamped, and its ticked box.
        s.start_program(exe)
        win = e2e.main_window(s, content=(300, 200))
        bar = s.bar_heights[win]
        check(s.geometry(win) == (10, 40, 300, 200 + bar),
              "left 5 and top 20 come back as 10 and 40, size 300x200: %s" % (s.geometry(win),))
        model = e2e.Model(DOCUMENT)
        s.click(win, 40, 8)
        runs.expect(e2e.expected_run(model, RULES, "1"), "first run")
        e2e.check_text(host.saved(), model.saved(), "first run sent flag 1 (x cleared in the note)")

        s.run_tool("xdotool", "windowmove", str(win), str(MOVED[0]), str(MOVED[1]))
        s.resize(win, RESIZED[0], RESIZED[1] + bar)
        want = (MOVED[0], MOVED[1], RESIZED[0], RESIZED[1] + bar)
        e2e.poll(lambda: s.geometry(win) == want, 10.0, "window moved and resized to %s" % (want,))
        e2e.click_checkbox(s, win, RESIZED[1])
        e2e.close_and_wait(s, win)
        frame = [str(v) for v in MOVED + RESIZED]
        check(read_prefs(prefs) == frame + ["0", ""],
              "the close wrote five lines: frame %s and the cleared box" % frame)

        # Second start: the same frame, and the box cleared.
        s.start_program(exe)
        win = e2e.main_window(s, content=RESIZED)
        check(s.geometry(win) == want, "the frame came back: %s" % (s.geometry(win),))
        s.click(win, 40, 8)
        runs.expect(e2e.expected_run(model, RULES, "0"), "run after the restart")
        e2e.check_text(host.saved(), model.saved(), "the run sent flag 0 (x kept in the note)")
        check('    chars 6-6 "x" styles "X"' in host.saved().splitlines(), "the note's x is styled")

        e2e.close_and_wait(s, win)
        check(read_prefs(prefs) == frame + ["0", ""], "an unchanged window saves the same five lines")
        runs.settled()
        e2e.stop_host(host)


if __name__ == "__main__":
    e2e.main(body)
