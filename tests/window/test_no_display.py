#!/usr/bin/python3
"""Started without a usable display, the real program says so in one line on
standard error and exits with status 1: no abort, nothing on standard
output, and no preferences written. Each case is a display that cannot be
reached: none named, an empty name, a socket path where nothing listens (a
name no X server of the machine can hold), and a name that is not one.

Exit status 77 (skipped) while the program is not built.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--tmp", default=None)
    opts = ap.parse_args()
    if not os.access(opts.program, os.X_OK):
        print("SKIP: program not built:", opts.program)
        return SKIP
    if opts.tmp:
        os.makedirs(opts.tmp, exist_ok=True)
    root = tempfile.mkdtemp(prefix="no-display-", dir=opts.tmp)
    failures = []
    try:
        runtime = os.path.join(root, "runtime")
        config = os.path.join(root, "config")
        os.makedirs(runtime, mode=0o700)
        os.makedirs(config)
        cases = [
            ("no DISPLAY", None),
            ("an empty DISPLAY", ""),
            ("a socket path where nothing listens", os.path.join(root, "nothing-here", "X0") + ":0"),
            ("a name that is no display", "not a display::x"),
        ]
        for what, display in cases:
            env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
            env.update({"QT_QPA_PLATFORM": "xcb", "XDG_RUNTIME_DIR": runtime,
                        "XDG_CONFIG_HOME": config})
            if display is not None:
                env["DISPLAY"] = display
            try:
                res = subprocess.run([opts.program], env=env, stdin=subprocess.DEVNULL,
                                     capture_output=True, timeout=60)
            except subprocess.TimeoutExpired:
                failures.append("%s: the program did not end within 60 s" % what)
                continue
            err = res.stderr.decode("utf-8", "replace")
            lines = err.splitlines()
            problems = []
            if res.returncode != 1:
                problems.append("exit status %d, not 1" % res.returncode)
            if len(lines) != 1 or "no usable display" not in lines[0]:
                problems.append("standard error is not one line saying there is no usable display")
            if res.stdout:
                problems.append("standard output is not empty")
            if os.listdir(config):
                problems.append("something was written to the preferences folder: %s" % os.listdir(config))
            if problems:
                failures.append("%s: %s\n--- stderr:\n%s" % (what, "; ".join(problems), err))
            else:
                print("ok: %s: status 1 and the one line %r" % (what, lines[0]))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
