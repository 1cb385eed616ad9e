#!/usr/bin/python3
"""The list shows the sample rule sets, one row each, in the folder's order,
and a click on a row runs that rule set and no other: each click is told
apart by the style names of the requests the stand-in host receives. A
click below the last row runs nothing. Entries that are hidden or do not end
in ".txt" get no row (they would shift every row after them).
"""

import os
import shutil

import e2e_support as e2e
from e2e_support import check

# A pattern the component rejects ends the run at once; in the sample only
# this rule set has one, in its second rule.
REJECTED = {"Broken pattern": 2}
MESSAGE = "Illustratorを起動してください。"


def sequence(rules, pieces, rejected_at=None):
    """The style names of a run's requests: every piece, every rule in file
    order, up to a rejected character rule."""
    names = []
    for _ in range(pieces):
        for n, (_, style, _) in enumerate(rules, 1):
            if n == rejected_at:
                return names
            names.append(style)
    return names


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        reglist = os.path.join(home, "reglist")
        shutil.copytree(os.path.join(opts.sample, "reglist"), reglist)
        e2e.write_rule_sets(reglist, {".hidden.txt": [("a", "Hidden", "c")],
                                      "notes.md": [("a", "Notes", "c")]})
        names = sorted(os.listdir(reglist))
        rows = e2e.row_order(names)
        check(rows == ["Basic", "Broken pattern", "English", "数字", "見出し"],
              "the folder gives the rows %s" % rows)
        document = os.path.join(opts.sample, "document.txt")
        with open(document, encoding="utf-8") as f:
            pieces = sum(1 for line in f if line.startswith("=== "))
        expected = {r: sequence(e2e.read_rule_set(os.path.join(reglist, r + ".txt")), pieces,
                                REJECTED.get(r)) for r in rows}
        check(len(expected["Broken pattern"]) == 1, "the broken rule set sends one request")

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        runs = e2e.RunCounter(host)
        s.start_program(exe)
        win = e2e.main_window(s)
        check(not s.dialogs() and MESSAGE not in s.stderr_lines(), "no message while the host runs")

        # The first row sits at the list's top whatever the font.
        s.click(win, 40, 8)
        runs.expect(expected[rows[0]], "click near the list's top runs row 1, " + rows[0])
        top, pitch = e2e.selected_row_band(s, win)
        check(4 <= top <= 8 and 8 <= pitch <= 40, "row 1 spans y %d..%d" % (top, top + pitch - 1))

        # Bottom row first: every run lays its styles over the last one's,
        # and the order makes no difference to which requests are sent.
        for i in reversed(range(1, len(rows))):
            s.click(win, 40, top + i * pitch + pitch // 2)
            runs.expect(expected[rows[i]], "click on row %d runs %s" % (i + 1, rows[i]))

        below = top + len(rows) * pitch + pitch // 2
        check(below < 4 + 136 - 4, "room below the last row (y %d)" % below)
        s.click(win, 40, below)
        # Clicks are handled in order: had the first one run anything, its
        # requests would come before the second's.
        s.click(win, 40, top + pitch // 2)
        runs.expect(expected[rows[0]], "a click below the last row runs nothing")

        e2e.finish(s, win, runs, host)


if __name__ == "__main__":
    e2e.main(body)
