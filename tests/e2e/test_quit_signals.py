#!/usr/bin/python3
"""The system's requests to end the program -- SIGTERM (a logout, `kill`),
SIGHUP and SIGINT -- quit it as the quit item does: the close handler runs
and saves the frame and the box the user left, the program exits 0, and no
half-written preferences file is left behind.

For each signal, three moments:
- idle: after a styling run has finished;
- in a run: the run's first style request hangs (a test applyCS that records
  its pid and its child's and sleeps). The signal, sent twice, ends that
  script's whole group, no further request reaches the host, one line on
  standard error says why, and the program quits well before the script
  timeout;
- at start-up, while the message box asking for the host is shown (no host
  runs): the box goes and the program quits the same way, once.

Before the signal the user moves and resizes the window and ticks the box;
a click on the rule set then runs it, and the host seeing that run's
request (flag "1") shows that the program has taken in those changes.
"""

import os
import signal
import time

import e2e_support as e2e
from e2e_support import check

SIGNALS = [signal.SIGTERM, signal.SIGHUP, signal.SIGINT]
DOCUMENT = [("1", "1", ["a x", "x b"]), ("2", "1", ["x"])]
RULES = [("x", "X", "c"), ("x", "Y", "p"), ("b", "Z", "c")]
SAVED = "100\n100\n200\n200\n0\n"   # the box cleared
MOVED = (240, 170)
RESIZED = (220, 260)               # content
QUITTING = "because the program is quitting"
# Far below the script timeout (120 s) that would otherwise end a hung run.
EXIT_BOUND = 60.0

HANGING_APPLY_CS = """#!/bin/sh
echo call >> '{dir}/applyCS.calls'
sleep 600 &
echo "$$ $!" > '{dir}/ready.tmp' && mv '{dir}/ready.tmp' '{dir}/ready'
wait
"""


def gone(pid):
    """No such process, or one that has ended and waits only for a parent
    that never reaps it."""
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except FileNotFoundError:
        return True
    return stat[stat.rindex(")") + 2] == "Z"


def prepare(s, opts, prefs_text):
    exe, home = e2e.stage(s, opts)
    e2e.write_rule_sets(os.path.join(home, "reglist"), {"R.txt": RULES})
    document = os.path.join(s.dir, "document.txt")
    e2e.write_document(document, DOCUMENT)
    _, config = s.private_dirs()
    with open(os.path.join(config, "vellowmark.pref"), "w", encoding="utf-8") as f:
        f.write(prefs_text)
    return exe, document, config


def change_window(s, win):
    bar = s.bar_heights[win]
    s.run_tool("xdotool", "windowmove", str(win), str(MOVED[0]), str(MOVED[1]))
    s.resize(win, RESIZED[0], RESIZED[1] + bar)
    want = (MOVED[0], MOVED[1], RESIZED[0], RESIZED[1] + bar)
    e2e.poll(lambda: s.geometry(win) == want, 10.0, "window moved and resized to %s" % (want,))
    e2e.click_checkbox(s, win, RESIZED[1])
    s.click(win, 40, 8)  # the rule set's row: a run


def expect_quit(s, config, want_prefs, what):
    start = time.monotonic()
    status = s.wait_exit(timeout=EXIT_BOUND)
    out, err = s.output()
    check(status == 0, "%s: exit status 0 (got %s, %.1f s)\n%s%s"
          % (what, status, time.monotonic() - start, out, err))
    with open(os.path.join(config, "vellowmark.pref"), encoding="utf-8") as f:
        saved = f.read()
    check(saved == want_prefs, "%s: the close handler saved %r (got %r)" % (what, want_prefs, saved))
    left = [n for n in os.listdir(config) if n.startswith(".vellowmark.pref.tmp")]
    check(not left, "%s: no temporary preferences file left (%s)" % (what, left))


def idle(opts, sig):
    what = "%s when idle" % sig.name
    with e2e.Session(opts.tmp) as s:
        exe, document, config = prepare(s, opts, SAVED)
        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        runs = e2e.RunCounter(host)
        s.start_program(exe)
        win = e2e.main_window(s, content=(200, 200))
        change_window(s, win)
        model = e2e.Model(DOCUMENT)
        runs.expect(e2e.expected_run(model, RULES, "1"), what + ": the run with the box ticked")
        s.proc.send_signal(sig)
        expect_quit(s, config, "%d\n%d\n%d\n%d\n1\n" % (MOVED + RESIZED), what)
        runs.settled()
        e2e.stop_host(host)


def in_a_run(opts, sig):
    what = "%s in a run" % sig.name
    with e2e.Session(opts.tmp) as s:
        exe, document, config = prepare(s, opts, SAVED)
        probe = os.path.join(s.dir, "probe")
        os.makedirs(probe)
        script = os.path.join(os.path.dirname(os.path.dirname(exe)), "Resources", "applyCS.scpt")
        os.remove(script)
        with open(script, "w") as f:
            f.write(HANGING_APPLY_CS.format(dir=probe))
        os.chmod(script, 0o755)

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        s.start_program(exe)
        win = e2e.main_window(s, content=(200, 200))
        change_window(s, win)
        ready = os.path.join(probe, "ready")
        e2e.poll(lambda: os.path.exists(ready), 20.0, what + ": the first style request runs")
        with open(ready) as f:
            pids = [int(p) for p in f.read().split()]
        s.proc.send_signal(sig)
        s.proc.send_signal(sig)  # a second one while quitting changes nothing
        try:
            expect_quit(s, config, "%d\n%d\n%d\n%d\n1\n" % (MOVED + RESIZED), what)
            check(all(gone(p) for p in pids), "%s: the script and its child are gone %s" % (what, pids))
        finally:
            for p in pids:
                if not gone(p):
                    os.kill(p, signal.SIGKILL)
        with open(os.path.join(probe, "applyCS.calls")) as f:
            check(f.read() == "call\n", what + ": applyCS was started once")
        check(host.requests() == [], "%s: no style request reached the host (%s)"
              % (what, host.requests()))
        lines = [line for line in s.stderr_lines() if line.startswith("ExecuteAppleScript:")]
        check(len(lines) == 1 and lines[0].endswith("/applyCS.scpt: ended it " + QUITTING),
              "%s: one line tells why the script was ended: %s" % (what, lines))
        e2e.stop_host(host)


def at_start_up(opts, sig):
    what = "%s while the start-up message shows" % sig.name
    with e2e.Session(opts.tmp) as s:
        # Left 5 and top 20 are raised to 10 and 40 on reading: written back
        # only by the close handler.
        exe, _, config = prepare(s, opts, "5\n20\n200\n200\n0\n")
        s.start_xvfb()
        s.start_program(exe)
        s.find_window(kind="_NET_WM_WINDOW_TYPE_DIALOG", timeout=20.0)
        s.proc.send_signal(sig)
        expect_quit(s, config, "10\n40\n200\n200\n0\n", what)


def body(opts):
    for sig in SIGNALS:
        idle(opts, sig)
        in_a_run(opts, sig)
        at_start_up(opts, sig)


if __name__ == "__main__":
    e2e.main(body)
