#!/usr/bin/python3
"""The window and end-to-end harness fails a test at once, with the helper's
own standard error, when a helper process ends under it: a stand-in host
that dies after it began to listen, a virtual X server that dies while a
test waits for a window, and one that cannot start at all.

Exit status 77 (skipped) while a tool is missing.
"""

import os
import signal
import stat
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import xharness  # noqa: E402
from xharness import Failure, Session  # noqa: E402

# A host that starts as the stand-in does (it says it listens and saves the
# untouched document), then dies with a message of its own.
DYING_HOST = """#!/bin/sh
# arguments: --headless --save PATH DOCUMENT
echo "stand-in host: listening on $XDG_RUNTIME_DIR/appleevents/ART5" >&2
: > "$3"
sleep 0.3
echo "stand-in host: the document went away under me" >&2
exit 4
"""

FAST = 5.0  # seconds: far below the 20 s the harness would otherwise sit out


def check(cond, what):
    if not cond:
        raise Failure(what)
    print("ok:", what)


def expect_failure(action, *wanted):
    """Runs action, which must fail within FAST seconds with every text of
    `wanted` in its message."""
    start = time.monotonic()
    try:
        action()
    except Failure as e:
        took = time.monotonic() - start
        message = str(e)
        check(took < FAST, "failed after %.2f s" % took)
        for text in wanted:
            if text not in message:
                raise Failure("the message lacks %r:\n%s" % (text, message))
            print("ok: the message holds %r" % text)
        return
    raise Failure("no failure from %s" % action)


def main():
    tmp = sys.argv[1] if len(sys.argv) > 1 else None
    xharness.require_tools("Xvfb", "xdotool")
    xharness._xlib()
    import e2e_support as e2e

    # A stand-in host that dies once it listens: waiting for its window, or
    # for anything else, ends at once with what it said.
    with Session(tmp) as s:
        s.start_xvfb()
        host_exe = os.path.join(s.dir, "dying-host")
        with open(host_exe, "w") as f:
            f.write(DYING_HOST)
        os.chmod(host_exe, stat.S_IRWXU)
        document = os.path.join(s.dir, "document.txt")
        e2e.write_document(document, [("1", "1", ["x"])])
        host = e2e.StandinHost(s, host_exe, document)
        expect_failure(host.window, "the stand-in host ended (status 4)",
                       "the document went away under me")
        host.stop()

    # The X server dies while a test waits for a window.
    with Session(tmp) as s:
        s.start_xvfb()
        os.kill(s.xvfb.pid, signal.SIGSEGV)
        expect_failure(lambda: s.find_window(name="^Never$", timeout=20.0), "Xvfb ended (status")

    # The X server cannot start: its own complaint is in the message.
    with Session(tmp) as s:
        expect_failure(lambda: s.start_xvfb(screen="not-a-size"), "Xvfb", "not-a-size")
    return 0


if __name__ == "__main__":
    xharness.run(main)
