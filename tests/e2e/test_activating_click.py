#!/usr/bin/python3
"""The press that brings the inactive window to the front runs nothing.

A window manager that focuses a window on a click hands it the focus first
and then passes the press on; the window's activation refills the list, so
a rule set that came into "reglist" meanwhile shifts the rows under the
pointer. Here, with no window manager, the test does what one would: the
window loses the focus to another window, the pointer rests on the first
row ("B"), a rule set "A" comes into the folder, the window gets the focus
back and the press follows at once. That press runs nothing, though the
activation has put "A" under the pointer; the next click, on "B", runs B.
The stand-in host receives B's requests and nothing else.
"""

import os

import e2e_support as e2e
from e2e_support import check

DOCUMENT = [("1", "1", ["x y"])]
RULES_A = [("x", "A style", "c")]
RULES_B = [("y", "B style", "c")]


def take_focus_away(s):
    """Maps a small window of the test's own far from the program's and
    gives it the input focus."""
    from Xlib import X
    d = s.x()
    screen = d.screen()
    other = screen.root.create_window(1200, 980, 20, 20, 0, screen.root_depth)
    other.map()
    d.sync()
    e2e.poll(lambda: other.get_attributes().map_state == X.IsViewable, 10.0, "the test's window is mapped")
    other.set_input_focus(X.RevertToParent, X.CurrentTime)
    d.sync()
    return other


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        reglist = os.path.join(home, "reglist")
        e2e.write_rule_sets(reglist, {"B.txt": RULES_B})
        document = os.path.join(s.dir, "document.txt")
        e2e.write_document(document, DOCUMENT)

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        runs = e2e.RunCounter(host)
        s.start_program(exe)
        win = e2e.main_window(s)
        model = e2e.Model(DOCUMENT)

        s.click(win, 40, 8)
        runs.expect(e2e.expected_run(model, RULES_B, "1"), "a click on the only row runs B")
        top, pitch = e2e.selected_row_band(s, win)

        # The window as it looks while active, once it has settled.
        path = os.path.join(s.dir, "look.ppm")
        active = e2e.poll(lambda: (lambda a, b: a if a == b else None)(e2e.grab(s, win, path),
                                                                          e2e.grab(s, win, path)),
                          10.0, "the active window's look settles")
        other = take_focus_away(s)
        # The program shows that it is no longer active (the list loses its
        # focus look): from here on the pointer's moves reach an inactive window.
        e2e.poll(lambda: e2e.grab(s, win, path) != active, 10.0, "the window looks inactive")

        bar = s.bar_heights[win]
        row1 = top + pitch // 2
        s.run_tool("xdotool", "mousemove", "--window", str(win), "60", str(row1 + bar))
        s.run_tool("xdotool", "mousemove", "--window", str(win), "40", str(row1 + bar))
        e2e.write_rule_sets(reglist, {"A.txt": RULES_A})
        s.run_tool("xdotool", "windowfocus", "--sync", str(win), "click", "1")

        # The next click, on the second row, which is B now.
        s.click(win, 40, top + pitch + pitch // 2)
        runs.expect(e2e.expected_run(model, RULES_B, "1"),
                    "the activating press ran nothing; the next click, on row 2, runs B")
        band = e2e.selected_row_band(s, win)
        check(band[0] >= top + pitch - 2, "row 2 is the selected row: %s" % (band,))

        other.destroy()
        s.x().sync()
        e2e.finish(s, win, runs, host)


if __name__ == "__main__":
    e2e.main(body)
