#!/usr/bin/python3
"""Only the press that brings the inactive window to the front runs nothing.

A window manager that focuses a window on a click hands it the focus and
passes the press on, stamped with its own (earlier) time; the window's
activation refills the list, so a rule set that came into "reglist"
meanwhile shifts the rows under the pointer. With no window manager here,
the test does what one would: the pointer rests on a row of the inactive
window, and the focus and the press reach the window together (the test
holds the X server while it sends both). That press runs nothing; the next
click runs its row.

A window activated otherwise (the focus given from the keyboard, or by a
right press) with the pointer resting on the list runs the user's next left
click: it comes a while after the activation.

The stand-in host receives the requests of exactly the runs expected.
"""

import os
import time

import e2e_support as e2e
from e2e_support import check

DOCUMENT = [("1", "1", ["x y"])]
RULES_A = [("x", "A style", "c")]
RULES_B = [("y", "B style", "c")]

# Longer than the program's own bound between an activation and the press
# that came with it: the user's click follows once the window shows active.
USER_PAUSE = 0.25


def take_focus_away(s, other=None):
    """Maps a small window of the test's own far from the program's (once)
    and gives it the input focus."""
    from Xlib import X
    d = s.x()
    if other is None:
        screen = d.screen()
        other = screen.root.create_window(1200, 980, 20, 20, 0, screen.root_depth)
        other.map()
        d.sync()
        e2e.poll(lambda: other.get_attributes().map_state == X.IsViewable, 10.0, "the test's window is mapped")
    other.set_input_focus(X.RevertToParent, X.CurrentTime)
    d.sync()
    return other


def focus_and_press(s, win, button):
    """The focus and a click of `button` together, as a window manager's
    click-to-focus hands them on: both are made while the test holds the
    server, so the press comes before anything the program asks after the
    activation."""
    from Xlib import X
    from Xlib.ext import xtest
    d = s.x()
    d.grab_server()
    try:
        d.create_resource_object("window", win).set_input_focus(X.RevertToParent, X.CurrentTime)
        xtest.fake_input(d, X.ButtonPress, button)
        xtest.fake_input(d, X.ButtonRelease, button)
    finally:
        d.ungrab_server()
        d.sync()


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
        bar = s.bar_heights[win]
        row = [top + pitch // 2 + i * pitch for i in range(2)]
        path = os.path.join(s.dir, "look.ppm")

        def look():
            """The window as it looks once it has settled."""
            return e2e.poll(lambda: (lambda a, b: a if a == b else None)(e2e.grab(s, win, path),
                                                                         e2e.grab(s, win, path)),
                            10.0, "the window's look settles")

        def rest_inactive_on(i, other):
            """The window loses the focus and shows it (the list loses its
            focus look); then the pointer comes to rest on row i."""
            active = look()
            other = take_focus_away(s, other)
            e2e.poll(lambda: e2e.grab(s, win, path) != active, 10.0, "the window looks inactive")
            inactive = look()
            s.run_tool("xdotool", "mousemove", "--window", str(win), "60", str(row[i] + bar))
            s.run_tool("xdotool", "mousemove", "--window", str(win), "40", str(row[i] + bar))
            return other, inactive

        def shows_active(inactive):
            e2e.poll(lambda: e2e.grab(s, win, path) != inactive, 10.0, "the window looks active again")

        # The activating press, on "B"; the activation puts "A" under the
        # pointer. It runs nothing; the next click, on row 2, runs B.
        other, _ = rest_inactive_on(0, None)
        e2e.write_rule_sets(reglist, {"A.txt": RULES_A})
        focus_and_press(s, win, 1)
        s.click(win, 40, row[1])
        runs.expect(e2e.expected_run(model, RULES_B, "1"),
                    "the activating press ran nothing; the next click, on row 2, runs B")
        band = e2e.selected_row_band(s, win)
        check(band[0] >= top + pitch - 2, "row 2 is the selected row: %s" % (band,))

        # The same with the folder unchanged: the activating press on "A"
        # runs nothing, the next click, on "B", runs B.
        other, _ = rest_inactive_on(0, other)
        focus_and_press(s, win, 1)
        s.click(win, 40, row[1])
        runs.expect(e2e.expected_run(model, RULES_B, "1"),
                    "the activating press on row 1 ran nothing; the next click, on row 2, runs B")

        # Activated from the keyboard while the pointer rests on "A": the
        # user's click there runs A.
        other, inactive = rest_inactive_on(0, other)
        s.run_tool("xdotool", "windowfocus", "--sync", str(win))
        shows_active(inactive)
        time.sleep(USER_PAUSE)
        s.click(win, 40, row[0])
        runs.expect(e2e.expected_run(model, RULES_A, "1"), "after a keyboard activation the click on row 1 runs A")

        # A right press activates the window, on "B": the left click there
        # that follows runs B.
        other, inactive = rest_inactive_on(1, other)
        focus_and_press(s, win, 3)
        shows_active(inactive)
        time.sleep(USER_PAUSE)
        s.click(win, 40, row[1])
        runs.expect(e2e.expected_run(model, RULES_B, "1"), "after a right press activated it, a click on row 2 runs B")

        other.destroy()
        s.x().sync()
        e2e.finish(s, win, runs, host)


if __name__ == "__main__":
    e2e.main(body)
