#!/usr/bin/python3
"""A click on a row styles the host's document exactly as the rule set says:
the saved document of the stand-in host is compared whole with one worked
out here from the rules and the document. Japanese and English text, a
paragraph rule with an upper-case kind, a rule that only matches with case
kept, a piece with no text and an address field that is not a number; with
the box ticked (as by default) each paragraph rule clears the character
styles of its paragraphs, so the rules' order shows.
"""

import os

import e2e_support as e2e
from e2e_support import check

DOCUMENT = [
    ("1", "1", ["第1章 東京の話",
                "東京と大阪、そして「東京タワー」。",
                "価格は1,280円です。"]),
    ("2", "x", ["Chapter 1 Tokyo",
                "tokyo, Tokyo and TOKYO."]),
    ("3", "3", []),
]

RULES = [
    ("東京", "地名", "c"),
    ("^第[0-9]+章", "章見出し", "p"),
    ("「[^」]*」", "かぎ括弧", "c"),
    ("[0-9][0-9,]*", "数字", "c"),
    ("^Chapter", "Heading", "P"),
    ("(?-i:Tokyo)", "City", ""),
]


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        e2e.write_rule_sets(os.path.join(home, "reglist"), {"和文.txt": RULES})
        document = os.path.join(s.dir, "document.txt")
        e2e.write_document(document, DOCUMENT)
        model = e2e.Model(DOCUMENT)
        untouched = model.saved()
        styles = e2e.expected_run(model, RULES, "1")
        expected = model.saved()

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        check_saved = lambda what, text: e2e.check_text(host.saved(), text, what)  # noqa: E731
        check_saved("the host's document before the run", untouched)
        runs = e2e.RunCounter(host)
        s.start_program(exe)
        win = e2e.main_window(s)

        s.click(win, 40, 8)
        sent = runs.expect(styles, "one request per piece and rule, in order")
        check([script for script, _ in sent] ==
              ["applyPS" if kind.lower() == "p" else "applyCS" for _ in DOCUMENT for _, _, kind in RULES],
              "paragraph rules go to applyPS, the others to applyCS")
        check_saved("the styled document", expected)
        saved = host.saved().splitlines()
        # Written out by hand, so that model and host cannot agree on a
        # wrong count: piece 1's second paragraph begins at position 10.
        for line in ('    chars 10-11 "東京" styles "地名"',
                     '    chars 19-25 "「東京タワー」" styles "かぎ括弧"',
                     '    chars 2-2 "1" styles "数字"',
                     '  paragraph 1 style "Heading" text "Chapter 1 Tokyo"',
                     '    chars 11-15 "Tokyo" styles "City"',
                     '    chars 24-28 "Tokyo" styles "City"'):
            check(line in saved, "saved form holds %r" % line)
        check('    chars 5-6 "東京" styles "地名"' not in saved,
              "the heading's paragraph rule cleared the place name styled before it")

        # The same rules again, with the same box: nothing changes.
        again = e2e.expected_run(model, RULES, "1")
        check(model.saved() == expected, "(the model agrees that a second run changes nothing)")
        s.click(win, 40, 8)
        runs.expect(again, "a second click runs the rule set again")
        check_saved("the document after the second run", expected)

        e2e.finish(s, win, runs, host)


if __name__ == "__main__":
    e2e.main(body)
