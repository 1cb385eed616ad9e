#!/usr/bin/python3
"""Started while no host runs, the program asks once for the host to be
started, in a message box that stays until the user closes it (here with
Escape), and then works as usual: a click runs the rule set, whose content
request fails for want of a host, so nothing is styled and the program goes
on. Once the stand-in host is up, the next click styles its document, with
no second message; the close ends the program with status 0.
"""

import os

import e2e_support as e2e
from e2e_support import check

MESSAGE = "Illustratorを起動してください。"
DOCUMENT = [("1", "1", ["x and x"])]
RULES = [("x", "X", "c")]


def stderr_lines(s, word):
    return [line for line in s.output()[1].splitlines() if word in line]


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        e2e.write_rule_sets(os.path.join(home, "reglist"), {"R.txt": RULES})
        document = os.path.join(s.dir, "document.txt")
        e2e.write_document(document, DOCUMENT)

        s.start_xvfb()
        s.start_program(exe)
        s.dismiss_message(key="Escape")
        check(s.stderr_lines().count(MESSAGE) == 1, "the message %r shown once" % MESSAGE)
        win = e2e.main_window(s)

        # The run's first step is the content request, which fails: the
        # program says so once the script has ended, and with no content
        # the run is over.
        s.click(win, 40, 8)
        failed = e2e.poll(lambda: stderr_lines(s, "getcontents.scpt"), 20.0, "the click runs getcontents")
        check(len(failed) == 1 and "status" in failed[0], "one line tells of the failed script: %s" % failed)
        check(s.alive(), "the program runs on after the failed content request")
        check(not stderr_lines(s, "applyCS") and not stderr_lines(s, "applyPS"),
              "no style request without content")

        host = e2e.StandinHost(s, opts.host, document)
        runs = e2e.RunCounter(host)
        model = e2e.Model(DOCUMENT)
        s.click(win, 40, 8)
        runs.expect(e2e.expected_run(model, RULES, "1"), "with the host up, the next click styles")
        e2e.check_text(host.saved(), model.saved(), "the styled document")
        check('    chars 7-7 "x" styles "X"' in host.saved().splitlines(), "both x styled")

        e2e.close_and_wait(s, win)
        check(s.stderr_lines().count(MESSAGE) == 1 and not s.dialogs(), "no second message")
        check(os.path.exists(os.path.join(s.env["XDG_CONFIG_HOME"], "vellowmark.pref")),
              "the close wrote the preferences")
        runs.settled()
        e2e.stop_host(host)


if __name__ == "__main__":
    e2e.main(body)
