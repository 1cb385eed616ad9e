#!/usr/bin/python3
"""The "clearing overrides" box, clicked, changes the flag of the runs that
follow. Ticked (flag "1") a character style replaces the styles already on
its characters; cleared (flag "0") it is laid on top of them, and a style
already in the stack moves to the top. The stand-in host's saved document
shows the stacks, so every run's flag can be read from them.
"""

import os
import re

import e2e_support as e2e
from e2e_support import check

DOCUMENT = [("1", "1", ["abc abc", "xyz"])]
RULE_SETS = {
    "A.txt": [("abc", "A", "c")],
    "B.txt": [("b", "B", "c")],
}
CONTENT_HEIGHT = e2e.DESIGN[1]
CHARS = re.compile(r'^    chars (\d+)-(\d+) "(?:[^"\\]|\\.)*" styles (.*)$')


def stack_at(saved, pos):
    """The style stack of one character of the one piece, from the saved form."""
    for line in saved.splitlines():
        m = CHARS.match(line)
        if m and int(m.group(1)) <= pos <= int(m.group(2)):
            return re.findall(r'"((?:[^"\\]|\\.)*)"', m.group(3))
    return []


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        e2e.write_rule_sets(os.path.join(home, "reglist"), RULE_SETS)
        document = os.path.join(s.dir, "document.txt")
        e2e.write_document(document, DOCUMENT)
        model = e2e.Model(DOCUMENT)

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        runs = e2e.RunCounter(host)
        s.start_program(exe)
        win = e2e.main_window(s)

        # Row 1 is A; row 2 starts just below the highlighted row 1.
        s.click(win, 40, 8)
        runs.expect(e2e.expected_run(model, RULE_SETS["A.txt"], "1"), "A with the box ticked")
        top, pitch = e2e.selected_row_band(s, win)
        row = {"A": top + pitch // 2, "B": top + pitch + pitch // 2}

        # Each step: (click the box first?, rule set, flag it must send,
        # the stack of the first "b" afterwards).
        steps = [
            (False, "B", "1", ["B"]),
            (True, "A", "0", ["B", "A"]),
            (False, "B", "0", ["A", "B"]),
            (True, "A", "1", ["A"]),
        ]
        for toggle, name, flag, stack in steps:
            if toggle:
                e2e.click_checkbox(s, win, CONTENT_HEIGHT)
            s.click(win, 40, row[name])
            styles = e2e.expected_run(model, RULE_SETS[name + ".txt"], flag)
            runs.expect(styles, "%s%s" % ("box clicked, then " if toggle else "", name))
            e2e.check_text(host.saved(), model.saved(), "document after %s with flag %s" % (name, flag))
            check(stack_at(host.saved(), 2) == stack, "the first b has the stack %s" % stack)

        e2e.close_and_wait(s, win)
        runs.settled()
        with open(os.path.join(s.env["XDG_CONFIG_HOME"], "vellowmark.pref"), encoding="utf-8") as f:
            check(f.read().splitlines()[4:] == ["1"], "the box saved ticked, as it was left")
        e2e.stop_host(host)


if __name__ == "__main__":
    e2e.main(body)
