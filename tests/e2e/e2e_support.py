"""Shared pieces of the end-to-end tests: the real program in its Qt window
on a private virtual X server, driven by real clicks, with the stand-in host
playing the host application.

What the tests check is worked out here independently of the program and of
the stand-in host: `Model` applies style requests to a document by the
stand-in's rules (standin/README.md) and renders its saved form, and
`expected_run` computes the requests a styling run sends, with Python's own
regular expressions (the tests keep to patterns that mean the same there).
"""

import argparse
import difflib
import os
import re
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "window"))
import xharness  # noqa: E402
from xharness import Failure, Session, Skip  # noqa: E402,F401

DESIGN = (160, 160)
LSAN_SUPP = os.path.join(os.path.dirname(HERE), "window", "lsan.supp")
CR = "\r"


def check(cond, what):
    if not cond:
        raise Failure(what)
    print("ok:", what)


def check_text(actual, expected, what):
    if actual != expected:
        diff = "".join(difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                            "expected", "actual"))
        raise Failure("%s differs:\n%s" % (what, diff))
    print("ok:", what)


def poll(cond, timeout, what, interval=0.01):
    """Calls cond until it gives a true value, which it returns; fails after
    timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        xharness.check_helpers()
        value = cond()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("%s: not within %.1f s" % (what, timeout))
        time.sleep(interval)


def arguments():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True, help="the bundle's executable")
    ap.add_argument("--host", required=True, help="the stand-in host executable")
    ap.add_argument("--sample", required=True, help="the stand-in's sample folder (document.txt, reglist/)")
    ap.add_argument("--artifacts", required=True)
    ap.add_argument("--tmp", default=None)
    return ap.parse_args()


def main(body):
    """Runs one test's body(opts); a missing tool or an unbuilt program is a
    skip (77), a failed check status 1."""
    def terminated(signum, _frame):
        raise Failure("ended by signal %d" % signum)
    # A timeout ends the test with SIGTERM: the finally blocks still stop
    # the host, the program and the X server.
    signal.signal(signal.SIGTERM, terminated)

    def run_body():
        opts = arguments()
        if not os.access(opts.program, os.X_OK):
            raise Skip("program not built: " + opts.program)
        if not os.access(opts.host, os.X_OK):
            raise Skip("stand-in host not built: " + opts.host)
        resources = os.path.join(os.path.dirname(os.path.dirname(opts.program)), "Resources")
        for script in ("getcontents.scpt", "applyCS.scpt", "applyPS.scpt"):
            if not os.access(os.path.join(resources, script), os.X_OK):
                raise Skip("stand-in script not in the bundle: " + script)
        xharness.require_tools("Xvfb", "xdotool", "import")
        xharness._xlib()
        body(opts)
        return 0

    xharness.run(run_body)


# --- files the tests write ----------------------------------------------------

def write_document(path, pieces):
    """pieces: (address 1, address 2, [paragraph, ...]) in the stand-in's
    document file format."""
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("# written by an end-to-end test\n")
        for a1, a2, paragraphs in pieces:
            f.write("=== %s/%s\n" % (a1, a2))
            for p in paragraphs:
                f.write(p + "\n")


def write_rule_sets(folder, rule_sets):
    """rule_sets: file name -> [(pattern, style, kind), ...]."""
    os.makedirs(folder, exist_ok=True)
    for name, rules in rule_sets.items():
        with open(os.path.join(folder, name), "w", encoding="utf-8", newline="\n") as f:
            for rule in rules:
                f.write("\t".join(rule) + "\n")


def read_rule_set(path):
    with open(path, encoding="utf-8-sig") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return [tuple((line.split("\t") + ["", ""])[:3]) for line in lines]


def row_order(names):
    """The rows the program lists for these folder entries, in the folder's
    order: ASCII letters compared ignoring case, ties by the exact bytes."""
    def key(name):
        raw = name.encode("utf-8")
        return (bytes(c + 32 if 65 <= c <= 90 else c for c in raw), raw)
    rows = []
    for name in sorted(names, key=key):
        if not name.startswith(".") and name[-4:].lower() == ".txt" and len(name) > 4:
            rows.append(name[:-4])
    return rows


# --- the independent model of a styled document ---------------------------------

def quote(text):
    out = ['"']
    for ch in text:
        c = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif c < 0x20 or c == 0x7F:
            out.append("\\x%02X" % c)
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


class Piece:
    def __init__(self, a1, a2, paragraphs):
        self.a1, self.a2 = a1, a2
        self.paragraphs = list(paragraphs) or [""]
        self.text = CR.join(self.paragraphs)
        self.para_styles = [None] * len(self.paragraphs)
        self.stacks = [[] for _ in self.text]
        self.starts = []
        pos = 0
        for p in self.paragraphs:
            self.starts.append(pos)
            pos += len(p) + 1

    def span(self, i):
        """[first, last) of paragraph i, its closing CR included."""
        last = self.starts[i + 1] if i + 1 < len(self.starts) else len(self.text)
        return self.starts[i], last


class Model:
    """The document as the stand-in host keeps it, changed only by requests."""

    def __init__(self, pieces):
        self.pieces = [Piece(*p) for p in pieces]

    def piece(self, a1, a2):
        for p in self.pieces:
            if (p.a1, p.a2) == (a1, a2):
                return p
        raise Failure("no piece %s/%s in the model" % (a1, a2))

    def apply_cs(self, piece, ranges, style, flag):
        for s, e in ranges:
            for pos in range(s, e + 1):
                stack = piece.stacks[pos - 1]
                if flag == "1":
                    stack[:] = [style]
                else:
                    if style in stack:
                        stack.remove(style)
                    stack.append(style)

    def apply_ps(self, piece, paragraphs, style, flag):
        for n in paragraphs:
            piece.para_styles[n - 1] = style
            if flag == "1":
                first, last = piece.span(n - 1)
                for i in range(first, last):
                    piece.stacks[i] = []

    def saved(self):
        out = ["# stand-in host: styled document\n"]
        for p in self.pieces:
            out.append("piece %s %s\n" % (quote(p.a1), quote(p.a2)))
            for i, para in enumerate(p.paragraphs):
                style = p.para_styles[i]
                out.append("  paragraph %d style %s text %s\n"
                           % (i + 1, quote(style) if style else "-", quote(para)))
                first, last = p.span(i)
                k = first
                while k < last:
                    end = k + 1
                    while end < last and p.stacks[end] == p.stacks[k]:
                        end += 1
                    if p.stacks[k]:
                        out.append("    chars %d-%d %s styles %s\n"
                                   % (k + 1, end, quote(p.text[k:end]),
                                      " ".join(quote(s) for s in p.stacks[k])))
                    k = end
        return "".join(out)


# The pattern component's defaults: case ignored, ^ and $ at every line.
RE_FLAGS = re.IGNORECASE | re.MULTILINE


def expected_run(model, rules, flag):
    """Applies one styling run of these rules to the model, as the program
    asks and the host carries it out; gives the style names of its requests
    in order. The tests' patterns never match empty text."""
    sent = []
    for piece in model.pieces:
        for pattern, style, kind in rules:
            rx = re.compile(pattern, RE_FLAGS)
            if kind.lower() == "p":
                hits = [i + 1 for i, para in enumerate(piece.paragraphs) if rx.search(para + CR)]
                model.apply_ps(piece, hits, style, flag)
            else:
                ranges = [(m.start() + 1, m.end()) for m in rx.finditer(piece.text)]
                model.apply_cs(piece, ranges, style, flag)
            sent.append(style)
    return sent


# --- the stand-in host ------------------------------------------------------------

HEADING = re.compile(r'^--- (applyCS|applyPS): applied "((?:[^"\\]|\\.)*)" ')
REFUSED = "stand-in host: refused: "


class StandinHost:
    """The stand-in host as a process beside the program, on the session's
    event folder. Its standard output names every request it carried out;
    its standard error every one it refused."""

    def __init__(self, session, exe, document, windowed=False):
        self.session = session
        runtime, _ = session.private_dirs()
        self.dir = os.path.join(session.dir, "host")
        os.makedirs(self.dir, exist_ok=True)
        self.saved_path = os.path.join(self.dir, "styled.txt")
        self.out_path = os.path.join(self.dir, "stdout.txt")
        self.err_path = os.path.join(self.dir, "stderr.txt")
        env = session.xenv()
        env["XDG_RUNTIME_DIR"] = runtime
        env["QT_QPA_PLATFORM"] = "xcb"
        lsan = env.get("LSAN_OPTIONS", "")
        env["LSAN_OPTIONS"] = (lsan + ":" if lsan else "") + "suppressions=" + LSAN_SUPP
        args = [exe] + ([] if windowed else ["--headless"]) + ["--save", self.saved_path, document]
        self._out = open(self.out_path, "wb")
        self._err = open(self.err_path, "wb")
        self.proc = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL,
                                     stdout=self._out, stderr=self._err)
        session.watch("the stand-in host", self.proc, self.err_path)
        session.cleanups.append(self.stop)
        try:
            poll(self._listening, 20.0, "the stand-in host opens its socket")
        except BaseException:
            self.stop()
            raise

    def _read(self, path):
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def _listening(self):
        # It saves the untouched document just after it says it listens.
        return "listening on" in self._read(self.err_path) and os.path.exists(self.saved_path)

    def requests(self):
        """Every style request so far, in order: (script, style) for an
        applied one, ("refused", reason) for a refused one. The two streams
        are not ordered against each other; the tests expect no refusals."""
        done = []
        for line in self._read(self.out_path).splitlines():
            m = HEADING.match(line)
            if m:
                done.append((m.group(1), re.sub(r"\\(.)", r"\1", m.group(2))))
        for line in self._read(self.err_path).splitlines():
            if line.startswith(REFUSED):
                done.append(("refused", line[len(REFUSED):]))
        return done

    def wait_requests(self, count, stall=15.0):
        """Waits until `count` requests have come in all told; gives them.
        Fails only when none comes for `stall` seconds, so that a loaded
        machine or a sanitizer build merely takes longer."""
        seen = self.requests()
        deadline = time.monotonic() + stall
        while len(seen) < count:
            self.session.check_helpers()
            if time.monotonic() > deadline:
                out, err = self.session.output()
                raise Failure("%d requests expected, the stand-in host has %d after %.0f s without one"
                              "\nprogram: %s%s" % (count, len(seen), stall, out, err))
            time.sleep(0.01)
            now = self.requests()
            if len(now) > len(seen):
                deadline = time.monotonic() + stall
            seen = now
        return seen

    def saved(self):
        with open(self.saved_path, encoding="utf-8") as f:
            return f.read()

    def window(self):
        return self.session.find_window(name="^Stand-in host$", timeout=20.0)

    def stop(self):
        """Ends the host (it saves once more) and gives its exit status."""
        self.session.unwatch(self.proc)
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for f in (self._out, self._err):
            f.close()
        return self.proc.returncode


def stop_host(host):
    status = host.stop()
    check(status == 0, "the stand-in host ended cleanly (status %s)" % status)


class RunCounter:
    """Follows the requests a test expects, run by run."""

    def __init__(self, host):
        self.host = host
        self.total = 0

    def expect(self, styles, what):
        """Waits for a run that sends requests with these style names, in
        this order, after those seen so far."""
        before = self.total
        self.total += len(styles)
        seen = self.host.wait_requests(self.total)
        got = [style for _, style in seen[before:self.total]]
        refused = [r for r in seen if r[0] == "refused"]
        check(not refused, "no request refused (%s)" % (refused[:3],))
        check(got == list(styles), "%s: %d requests, styles %s" % (what, len(styles), _short(got)))
        return seen[before:self.total]

    def settled(self):
        """Once the program has ended: nothing beyond what was expected."""
        seen = self.host.requests()
        check(len(seen) == self.total, "%d requests in all, as expected (seen %d)" % (self.total, len(seen)))


def _short(items, n=6):
    items = list(items)
    return str(items) if len(items) <= n else "%s ... (%d)" % (items[:n], len(items))


# --- the program's window -----------------------------------------------------------

def stage(s, opts):
    """The session's private bundle and the folder that holds it."""
    bundle = os.path.dirname(os.path.dirname(os.path.dirname(opts.program)))
    return s.stage_bundle(bundle)


def main_window(s, content=DESIGN):
    """The program's main window once it shows its content at that size,
    with the menu bar's height known for clicks in content coordinates."""
    win = s.find_window(timeout=20.0)

    def sized():
        _, _, w, h = s.geometry(win)
        return w == content[0] and h > content[1]
    poll(sized, 10.0, "main window with content %dx%d" % content)
    bar = s.geometry(win)[3] - content[1]
    check(10 <= bar <= 40, "menu bar of %d px above the content" % bar)
    s.bar_heights[win] = bar
    poll(lambda: s.run_tool("xdotool", "getwindowfocus", check=False).strip() == str(win), 10.0,
         "main window has the input focus")
    return win


def click_checkbox(s, win, content_height):
    # The box's indicator sits at its left end; the box's top is 22 px above
    # the content's bottom edge at every height.
    s.click(win, 12, content_height - 22 + 10)


def close_and_wait(s, win):
    s.close_window(win)
    status = s.wait_exit(timeout=20.0)
    if status != 0:
        out, err = s.output()
        raise Failure("exit status %s after the close, not 0\n%s%s" % (status, out, err))
    print("ok: exit status 0 after the close")


def finish(s, win, runs, host):
    """The usual end: the window closed, the program gone with status 0,
    nothing sent beyond what was expected, the host ended cleanly."""
    close_and_wait(s, win)
    runs.settled()
    stop_host(host)


def read_ppm(path):
    """(width, height, bytes) of a binary 8-bit PPM."""
    with open(path, "rb") as f:
        data = f.read()
    fields, i = [], 0
    while len(fields) < 4:
        while data[i:i + 1].isspace():
            i += 1
        if data[i:i + 1] == b"#":
            i = data.index(b"\n", i)
            continue
        j = i
        while not data[j:j + 1].isspace():
            j += 1
        fields.append(data[i:j])
        i = j
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise Failure("%s is not an 8-bit PPM" % path)
    return int(fields[1]), int(fields[2]), data[i + 1:]


def grab(s, wid, path):
    s.run_tool("import", "-window", str(wid), "-depth", "8", path)
    return read_ppm(path)


def selected_row_band(s, win, list_rect=(6, 4, 148, 136)):
    """(top, height) in content coordinates of the highlighted row of the
    list, read from a screenshot: the selection is the one strongly blue band
    down the list. Polls until the highlight is painted."""
    bar = s.bar_heights[win]
    path = os.path.join(s.dir, "band.ppm")
    left, top, width, height = list_rect

    def band():
        w, _, px = grab(s, win, path)
        best = None
        for x in (left + width // 2, left + width - 20, left + width - 8):
            run_start, run = None, 0
            for y in range(top, top + height):
                o = ((y + bar) * w + x) * 3
                if px[o + 2] - px[o] > 60:  # far more blue than red
                    if run == 0:
                        run_start = y
                    run += 1
                    if best is None or run > best[1]:
                        best = (run_start, run)
                else:
                    run = 0
        return best if best and best[1] >= 8 else None

    return poll(band, 10.0, "a highlighted row in the list", interval=0.02)
