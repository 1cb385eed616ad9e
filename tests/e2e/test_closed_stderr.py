#!/usr/bin/python3
"""Standard error is a pipe whose reader has gone, as when the program was
started as `vellowmark 2>&1 | head -0` and the reader has ended. The program
writes its one-line messages there all the same (the request to start the
host at start-up, a failed host script during a run); each write fails, and
the program lives on: it quits normally with status 0 and writes its
preferences.

Two runs: one without a host, whose start-up message goes to standard
error; one with the stand-in host up and a content script that fails.
"""

import os

import e2e_support as e2e
from e2e_support import check

DOCUMENT = [("1", "1", ["x and x"])]
RULES = [("x", "X", "c")]


def closed_pipe():
    """The write end of a pipe whose read end is already closed."""
    r, w = os.pipe()
    os.close(r)
    return w


def start(s, exe):
    w = closed_pipe()
    try:
        # subprocess gives the program SIGPIPE at its default, as a shell does.
        s.start_program(exe, stderr=w)
    finally:
        os.close(w)


def close_and_check(s, win, what):
    s.close_window(win)
    status = s.wait_exit(timeout=20.0)
    check(status == 0, "%s: exit status 0 after the close (got %s)" % (what, status))
    prefs = os.path.join(s.env["XDG_CONFIG_HOME"], "vellowmark.pref")
    check(os.path.exists(prefs), "%s: the close wrote the preferences" % what)


def without_host(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        e2e.write_rule_sets(os.path.join(home, "reglist"), {"R.txt": RULES})
        s.start_xvfb()
        start(s, exe)
        # The message box's text went to standard error as it opened.
        s.dismiss_message(key="Escape")
        win = e2e.main_window(s)
        check(s.alive(), "no host: the program runs on after its start-up message")
        close_and_check(s, win, "no host")


def failing_script(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        e2e.write_rule_sets(os.path.join(home, "reglist"), {"R.txt": RULES})
        document = os.path.join(s.dir, "document.txt")
        e2e.write_document(document, DOCUMENT)
        # The content script fails after it has left a mark: the program
        # writes its failure line when the script has ended.
        ran = os.path.join(s.dir, "getcontents-ran")
        script = os.path.join(os.path.dirname(exe), "..", "Resources", "getcontents.scpt")
        os.remove(script)
        with open(script, "w") as f:
            f.write("#!/bin/sh\n: > '%s'\nexit 3\n" % ran)
        os.chmod(script, 0o755)

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        start(s, exe)
        win = e2e.main_window(s)
        check(not s.dialogs(), "with the host up, no message at start-up")
        s.click(win, 40, 8)
        e2e.poll(lambda: os.path.exists(ran), 20.0, "the click runs getcontents")
        # The close is handled after the run, and so after the failure line.
        close_and_check(s, win, "failed script")
        check(host.requests() == [], "no style request without content")
        e2e.stop_host(host)


def body(opts):
    without_host(opts)
    failing_script(opts)


if __name__ == "__main__":
    e2e.main(body)
