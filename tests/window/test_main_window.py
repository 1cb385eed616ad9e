#!/usr/bin/python3
"""The real program's main window under Xvfb. No host runs, so the host
check's message box comes first and stays until the user closes it with a
key; the program takes no settings from the environment, so variables that
once made test builds close or log the box change nothing. Then the main
window appears titled "Vellowmark" with a 160 x 160 content area below its
menu bar, offers no maximise, keeps
its size limits against an outside resize, takes a click on its checkbox,
and on a window manager's close request saves its preferences and exits 0.

Exit status 77 (skipped) while the program is not built or a tool is missing.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xharness  # noqa: E402
from xharness import Failure, Session, Skip  # noqa: E402

DESIGN = (160, 160)
MESSAGE = "Illustratorを起動してください。"


def check(cond, what):
    if not cond:
        raise Failure(what)
    print("ok:", what)


def maximise_checks(s, win, bar):
    hints = s.motif_hints(win)
    if hints is None:
        print("note: the window has no _MOTIF_WM_HINTS; no maximise capability to observe")
    else:
        flags, functions, decorations = hints[0], hints[1], hints[2]
        if flags & xharness.MWM_HINTS_FUNCTIONS:
            # With the ALL bit, the listed functions are the ones taken away.
            inverse = bool(functions & xharness.MWM_FUNC_ALL)
            has = lambda bit: bool(functions & bit) != inverse  # noqa: E731
            check(not has(xharness.MWM_FUNC_MAXIMIZE), "no maximise function (motif hints %s)" % hints)
            check(has(xharness.MWM_FUNC_MINIMIZE) and has(xharness.MWM_FUNC_CLOSE),
                  "minimise and close functions")
        else:
            print("note: motif hints without functions: %s" % hints)
        if flags & xharness.MWM_HINTS_DECORATIONS:
            inverse = bool(decorations & xharness.MWM_DECOR_ALL)
            check(bool(decorations & xharness.MWM_DECOR_MAXIMIZE) == inverse, "no maximise button")
    nh = s.normal_hints(win)
    check((nh.min_width, nh.min_height) == (64, 64 + bar),
          "minimum size hint 64 x (64 + bar): %dx%d" % (nh.min_width, nh.min_height))
    check((nh.max_width, nh.max_height) == (400, 600 + bar),
          "maximum size hint 400 x (600 + bar): %dx%d" % (nh.max_width, nh.max_height))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--artifacts", required=True)
    ap.add_argument("--tmp", default=None)
    opts = ap.parse_args()

    with Session(opts.tmp) as s:
        if not os.access(opts.program, os.X_OK):
            raise Skip("program not built: " + opts.program)
        xharness.require_tools("Xvfb", "xdotool", "import")
        xharness._xlib()
        bundle = os.path.dirname(os.path.dirname(os.path.dirname(opts.program)))
        exe, home = s.stage_bundle(bundle)
        os.makedirs(os.path.join(home, "reglist"))
        for name in ("見出し.txt", "body.txt", ".hidden.txt", "notes.md"):
            with open(os.path.join(home, "reglist", name), "w", encoding="utf-8") as f:
                f.write("^x\tStyle\tp\n")

        s.start_xvfb()
        log = os.path.join(s.dir, "msgbox.log")
        s.start_program(exe, env={"VM_MSGBOX_AUTOCLOSE": "1", "VM_MSGBOX_LOG": log})
        box = s.find_window(kind="_NET_WM_WINDOW_TYPE_DIALOG", timeout=20.0)
        check(s.title(box) == "Vellowmark", "the message box is titled Vellowmark")
        check(not os.path.exists(log), "no variable of the environment makes the program write a file")
        check(s.stderr_lines().count(MESSAGE) == 1, "the box asks for the host: %r" % MESSAGE)
        shot = s.screenshot(box, os.path.join(opts.artifacts, "window-message-box.png"))
        check(os.path.getsize(shot) > 0, "screenshot " + shot)
        # The main window opens once the box is closed: until then there is none.
        shown = s.run_tool("xdotool", "search", "--onlyvisible", "--name", "^Vellowmark$", check=False).split()
        check([w for w in shown if s.window_type(int(w)) != "_NET_WM_WINDOW_TYPE_DIALOG"] == [],
              "no main window while the box is up")
        s.dismiss_message(key="Return")
        win = s.find_window(content_height=DESIGN[1])

        check(s.title(win) == "Vellowmark", "title is Vellowmark")
        _, _, width, height = s.geometry(win)
        bar = height - DESIGN[1]
        check(width == DESIGN[0], "content width 160 (window %dx%d)" % (width, height))
        check(10 <= bar <= 40, "content height 160 below a menu bar of %d px" % bar)
        maximise_checks(s, win, bar)

        shot = s.screenshot(win, os.path.join(opts.artifacts, "window-main.png"))
        check(os.path.getsize(shot) > 0, "screenshot " + shot)

        # Nothing but the program keeps its limits here.
        s.resize(win, 30, 30)
        seen = s.wait_geometry(win, (64, 64 + bar))
        check(seen == (64, 64 + bar), "an outside resize to 30x30 ends at 64x(64+bar): %s" % (seen,))
        s.resize(win, 200, 250 + bar)
        seen = s.wait_geometry(win, (200, 250 + bar))
        check(seen == (200, 250 + bar), "resized to content 200x250: %s" % (seen,))

        # The checkbox sits 22 px above the content's bottom edge; untick it.
        s.click(win, 12, 250 - 22 + 10)

        s.close_window(win)
        status = s.wait_exit(timeout=5.0)
        out, err = s.output()
        check(status == 0, "exit status 0 after WM_DELETE_WINDOW (got %s)\n%s%s" % (status, out, err))
        pref = os.path.join(s.env["XDG_CONFIG_HOME"], "vellowmark.pref")
        check(os.path.exists(pref), "preferences written on close")
        check(s.stderr_lines().count(MESSAGE) == 1, "the message came once")
        with open(pref, encoding="utf-8") as f:
            lines = f.read().splitlines()
        check(lines[2:5] == ["200", "250", "0"],
              "preferences keep the size 200x250 and the unticked box: %s" % lines)
    return 0


if __name__ == "__main__":
    xharness.run(main)
