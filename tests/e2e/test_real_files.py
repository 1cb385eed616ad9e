#!/usr/bin/python3
"""Rule sets as users keep them on a Linux disk: a name whose ending is in
capitals ("Basic.TXT") and files a text editor saved as UTF-16 with a
byte-order mark, little and big endian, with CRLF line ends. Every row the
list shows runs its own rule set when clicked, and a UTF-16 rule set sends
the requests its UTF-8 original sends.
"""

import os
import shutil

import e2e_support as e2e
from e2e_support import check


def sequence(rules, pieces):
    """The style names of a run's requests: every piece, every rule."""
    return [style for _ in range(pieces) for (_, style, _) in rules]


def body(opts):
    with e2e.Session(opts.tmp) as s:
        exe, home = e2e.stage(s, opts)
        sample = os.path.join(opts.sample, "reglist")
        reglist = os.path.join(home, "reglist")
        os.makedirs(reglist)
        # row -> (file name, bytes)
        def raw(name):
            with open(os.path.join(sample, name + ".txt"), "rb") as f:
                return f.read()

        def utf16(name, codec, bom):
            text = raw(name).decode("utf-8").replace("\n", "\r\n")
            return bom + text.encode(codec)

        files = {
            "Basic": ("Basic.TXT", raw("Basic")),
            "English": ("English.txt", utf16("English", "utf-16-be", b"\xfe\xff")),
            "見出し": ("見出し.Txt", utf16("見出し", "utf-16-le", b"\xff\xfe")),
            "数字": ("数字.txt", utf16("数字", "utf-16-le", b"\xff\xfe")),
        }
        for name, data in files.values():
            with open(os.path.join(reglist, name), "wb") as f:
                f.write(data)
        rows = e2e.row_order(os.listdir(reglist))
        check(rows == ["Basic", "English", "数字", "見出し"], "the folder gives the rows %s" % rows)

        document = os.path.join(opts.sample, "document.txt")
        with open(document, encoding="utf-8") as f:
            pieces = sum(1 for line in f if line.startswith("=== "))
        expected = {r: sequence(e2e.read_rule_set(os.path.join(sample, r + ".txt")), pieces)
                    for r in rows}

        s.start_xvfb()
        host = e2e.StandinHost(s, opts.host, document)
        runs = e2e.RunCounter(host)
        s.start_program(exe)
        win = e2e.main_window(s)

        s.click(win, 40, 8)
        runs.expect(expected[rows[0]], "row 1 runs " + files[rows[0]][0])
        top, pitch = e2e.selected_row_band(s, win)
        for i in range(1, len(rows)):
            s.click(win, 40, top + i * pitch + pitch // 2)
            runs.expect(expected[rows[i]], "row %d runs %s" % (i + 1, files[rows[i]][0]))

        e2e.finish(s, win, runs, host)


if __name__ == "__main__":
    e2e.main(body)
