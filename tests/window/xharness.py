"""Drives the real program's window on a private virtual X server.

One Session is one X server and at most one running program:

    with Session(tmp_root) as s:
        s.start_xvfb()
        s.start_program(program, env={...}, args=[])
        text = s.dismiss_message()  # a message box, closed as a user does
        win = s.find_window()
        s.click(win, x, y)          # content coordinates
        s.screenshot(win, path)
        s.close_window(win)         # as a window manager's close button
        status = s.wait_exit()

No window manager runs, so nothing enforces size hints or gives focus by
itself; see the notes on window tests for what works without one.
"""

import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77  # ctest SKIP_RETURN_CODE


class Skip(Exception):
    """The machine lacks something the test needs: not a failure."""


class Failure(Exception):
    pass


def run(main):
    """Runs a test's main(): a missing tool or program is a skip (77), a
    failed check status 1."""
    try:
        sys.exit(main())
    except Skip as e:
        print("SKIP:", e)
        sys.exit(SKIP)
    except Failure as e:
        print("FAIL:", e)
        sys.exit(1)


def require_tools(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        raise Skip("missing tools: " + " ".join(missing))


def _xlib():
    try:
        from Xlib import X, Xatom, display, protocol  # noqa: F401
    except ImportError as e:
        raise Skip("python3-xlib is not installed (%s)" % e)
    return X, Xatom, display, protocol


# _MOTIF_WM_HINTS fields and bits, as toolkits and window managers use them.
MWM_HINTS_FUNCTIONS = 1
MWM_HINTS_DECORATIONS = 2
MWM_FUNC_ALL, MWM_FUNC_MINIMIZE, MWM_FUNC_MAXIMIZE, MWM_FUNC_CLOSE = 1, 8, 16, 32
MWM_DECOR_ALL, MWM_DECOR_MINIMIZE, MWM_DECOR_MAXIMIZE = 1, 32, 64


def _tail(path, limit=4000):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        return "(no standard error: %s)" % e
    text = data.decode("utf-8", "replace")
    return text if len(text) <= limit else "...\n" + text[-limit:]


def check_helpers():
    """Fails at once when a helper process of any running session (the X
    server, the stand-in host) has ended, with its standard error."""
    for session in list(Session.running):
        session.check_helpers()


def _default_end_signals():
    """In the program's process before it starts: the system's requests to
    end it at their defaults, as a desktop starts it, even when the test
    runner was started with one ignored (nohup, a shell's background job)."""
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, signal.SIG_DFL)


class Session:
    running = []  # sessions not yet stopped

    def __init__(self, tmp_root=None):
        if tmp_root:
            os.makedirs(tmp_root, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="window-", dir=tmp_root)
        # The event folder's parent: short, as a socket's path must fit a
        # sockaddr_un, which a folder under a deep clone's build does not.
        self.runtime = tempfile.mkdtemp(prefix="vm-", dir="/tmp")
        self.display = None
        self.xvfb = None
        self.proc = None
        self.bar_heights = {}  # window id -> menu bar height
        self.helpers = []  # (name, process, path of its standard error)
        self.cleanups = []  # what stop() ends first (the stand-in host)
        self._dpy = None
        self._out = self._err = None
        self._xvfb_err = None
        Session.running.append(self)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    # --- helper processes ---------------------------------------------------

    def watch(self, name, proc, err_path):
        """From now on, the helper's end fails the test at once."""
        self.helpers.append((name, proc, err_path))

    def unwatch(self, proc):
        self.helpers = [h for h in self.helpers if h[1] is not proc]

    def check_helpers(self):
        for name, proc, err_path in self.helpers:
            if proc.poll() is not None:
                self.helpers = []
                raise Failure("%s ended (status %s); its standard error:\n%s"
                              % (name, proc.returncode, _tail(err_path)))

    # --- the X server ----------------------------------------------------

    def start_xvfb(self, screen="1280x1024x24", timeout=5.0):
        """Starts Xvfb on a display number it picks itself; gives ":N"."""
        require_tools("Xvfb")
        r, w = os.pipe()
        err_path = os.path.join(self.dir, "xvfb-stderr.txt")
        self._xvfb_err = open(err_path, "wb")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-noreset", "-screen", "0", screen, "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=self._xvfb_err)
        os.close(w)
        self.watch("Xvfb", self.xvfb, err_path)
        data = b""
        deadline = time.monotonic() + timeout
        try:
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([r], [], [], left)[0]:
                    raise Failure("Xvfb gave no display number within %.1f s; its standard error:\n%s"
                                  % (timeout, _tail(err_path)))
                chunk = os.read(r, 64)
                if not chunk:
                    self.xvfb.wait()
                    self.check_helpers()
                    raise Failure("Xvfb closed its display pipe before it was ready")
                data += chunk
        finally:
            os.close(r)
        self.display = ":" + data.decode().strip()
        return self.display

    def xenv(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def x(self):
        """An Xlib connection to the session's server."""
        if self._dpy is None:
            _, _, display, _ = _xlib()
            self._dpy = display.Display(self.display)
        return self._dpy

    def run_tool(self, *argv, check=True):
        self.check_helpers()
        res = subprocess.run(list(argv), env=self.xenv(), capture_output=True, text=True, timeout=20)
        if check and res.returncode != 0:
            self.check_helpers()
            raise Failure("%s failed (%d): %s" % (" ".join(argv), res.returncode, res.stderr.strip()))
        return res.stdout

    # --- the program -------------------------------------------------------

    def stage_bundle(self, bundle):
        """A private copy of the application bundle, so that its "reglist"
        folder (beside the bundle) is the test's own. Gives the copy's
        executable and the folder that holds the bundle."""
        home = os.path.join(self.dir, "apps")
        os.makedirs(home, exist_ok=True)
        copy = os.path.join(home, os.path.basename(bundle.rstrip("/")))
        shutil.copytree(bundle, copy, symlinks=False)
        exe = os.path.join(copy, "Contents", "MacOS", "Vellowmark")
        return exe, home

    def private_dirs(self):
        """The session's XDG_RUNTIME_DIR (0700) and XDG_CONFIG_HOME folders."""
        config = os.path.join(self.dir, "config")
        os.makedirs(config, exist_ok=True)
        return self.runtime, config

    def start_program(self, program, env=None, args=(), stderr=None):
        """Starts the program on this display. `env` adds to (or, with a
        value of None, removes from) a base environment that has the private
        XDG folders. Its standard error goes to a file that output() reads,
        or to `stderr` (a descriptor) when that is given."""
        if not os.access(program, os.X_OK):
            raise Skip("program not built: " + program)
        runtime, config = self.private_dirs()
        full = self.xenv()
        full.update({
            "XDG_RUNTIME_DIR": runtime,
            "XDG_CONFIG_HOME": config,
            "QT_QPA_PLATFORM": "xcb",
        })
        # Under the sanitizers: system libraries' own leaks are not the program's.
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
        lsan = full.get("LSAN_OPTIONS", "")
        full["LSAN_OPTIONS"] = (lsan + ":" if lsan else "") + "suppressions=" + supp
        for k, v in (env or {}).items():
            if v is None:
                full.pop(k, None)
            else:
                full[k] = v
        self.env = full
        for f in (self._out, self._err):
            if f:
                f.close()
        self._out = open(os.path.join(self.dir, "stdout.txt"), "wb")
        self._err = open(os.path.join(self.dir, "stderr.txt"), "wb")
        self.proc = subprocess.Popen([program, *args], env=full, stdin=subprocess.DEVNULL,
                                     stdout=self._out,
                                     stderr=self._err if stderr is None else stderr,
                                     preexec_fn=_default_end_signals)
        return self.proc

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def output(self):
        """The program's standard output and error so far."""
        texts = []
        for name in ("stdout.txt", "stderr.txt"):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    texts.append(f.read().decode("utf-8", "replace"))
            else:
                texts.append("")
        return tuple(texts)

    def stderr_lines(self):
        """The program's standard error so far, line by line (a message box
        writes its text there as well)."""
        return self.output()[1].splitlines()

    def wait_exit(self, timeout=5.0):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("program still running %.1f s after it was asked to end" % timeout)

    # --- windows -------------------------------------------------------------

    def window_type(self, wid):
        _, Xatom, _, _ = _xlib()
        d = self.x()
        w = d.create_resource_object("window", wid)
        prop = w.get_full_property(d.intern_atom("_NET_WM_WINDOW_TYPE"), Xatom.ATOM)
        if not prop or not prop.value:
            return None
        return d.get_atom_name(prop.value[0])

    def find_window(self, name="^Vellowmark$", content_height=None, timeout=10.0,
                    kind="_NET_WM_WINDOW_TYPE_NORMAL"):
        """Polls every 10 ms for a visible window of that name and kind (the
        message box has the same title but is a dialog), failing at once when
        the program dies. With content_height, the menu bar's height is taken
        as the window's height less it, for click()."""
        require_tools("xdotool")
        deadline = time.monotonic() + timeout
        while True:
            self.check_helpers()
            if self.proc is not None and not self.alive():
                out, err = self.output()
                raise Failure("program ended (status %s) before its window appeared\n%s%s"
                              % (self.proc.returncode, out, err))
            res = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                                 env=self.xenv(), capture_output=True, text=True)
            for line in res.stdout.split():
                wid = int(line)
                try:
                    if kind is None or self.window_type(wid) == kind:
                        if content_height is not None:
                            self.bar_heights[wid] = self.geometry(wid)[3] - content_height
                        return wid
                except Exception:  # the window went while we looked at it
                    pass
            if time.monotonic() > deadline:
                raise Failure("no visible window named %r within %.1f s" % (name, timeout))
            time.sleep(0.01)

    def dialogs(self, name="^Vellowmark$"):
        """The visible dialog windows of that name (a message box)."""
        found = []
        res = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                             env=self.xenv(), capture_output=True, text=True)
        for line in res.stdout.split():
            try:
                if self.window_type(int(line)) == "_NET_WM_WINDOW_TYPE_DIALOG":
                    found.append(int(line))
            except Exception:  # gone while we looked
                pass
        return found

    def dismiss_message(self, key="Return", timeout=20.0):
        """Waits for the program's message box, closes it as a user does
        (the input focus on the box, then a key), and waits until it has
        gone. Gives the box's window id."""
        box = self.find_window(kind="_NET_WM_WINDOW_TYPE_DIALOG", timeout=timeout)
        self.run_tool("xdotool", "windowfocus", "--sync", str(box), "key", key)
        deadline = time.monotonic() + timeout
        while box in self.dialogs():
            if self.proc is not None and not self.alive():
                raise Failure("program ended (status %s) while its message box was up"
                              % self.proc.returncode)
            if time.monotonic() > deadline:
                raise Failure("the message box did not close on %s within %.1f s" % (key, timeout))
            time.sleep(0.01)
        return box

    def title(self, wid):
        return self.run_tool("xdotool", "getwindowname", str(wid)).rstrip("\n")

    def geometry(self, wid):
        """(x, y, width, height) of the window."""
        self.check_helpers()
        d = self.x()
        w = d.create_resource_object("window", wid)
        g = w.get_geometry()
        pos = w.translate_coords(d.screen().root, 0, 0)
        return (-pos.x, -pos.y, g.width, g.height)

    def wait_geometry(self, wid, size, timeout=3.0):
        """Waits until the window has that (width, height); gives the last seen."""
        deadline = time.monotonic() + timeout
        while True:
            seen = self.geometry(wid)[2:]
            if seen == tuple(size) or time.monotonic() > deadline:
                return seen
            time.sleep(0.01)

    def motif_hints(self, wid):
        """The window's _MOTIF_WM_HINTS as a list of five numbers, or None."""
        d = self.x()
        w = d.create_resource_object("window", wid)
        atom = d.intern_atom("_MOTIF_WM_HINTS")
        prop = w.get_full_property(atom, 0)  # AnyPropertyType
        return list(prop.value) if prop and len(prop.value) >= 3 else None

    def normal_hints(self, wid):
        d = self.x()
        return d.create_resource_object("window", wid).get_wm_normal_hints()

    def resize(self, wid, width, height):
        """An outside resize, as a user's drag would ask it (no window manager
        enforces the size hints)."""
        self.run_tool("xdotool", "windowsize", str(wid), str(width), str(height))

    def click(self, wid, x, y, button=1):
        """A click at content coordinates: below the menu bar."""
        bar = self.bar_heights.get(wid)
        if bar is None:
            raise Failure("bar height unknown: find the window with content_height first")
        self.run_tool("xdotool", "mousemove", "--window", str(wid), str(x), str(y + bar),
                      "click", str(button))

    def close_window(self, wid):
        """Sends WM_DELETE_WINDOW, the graceful close a window manager's close
        button asks for (the program's close handler runs)."""
        X, _, _, protocol = _xlib()
        d = self.x()
        w = d.create_resource_object("window", wid)
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=w, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        w.send_event(event, event_mask=X.NoEventMask)
        d.flush()

    def screenshot(self, wid, path):
        """Saves the window as a PNG, with the pointer moved out of the way."""
        require_tools("import")
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        self.run_tool("xdotool", "mousemove", "1270", "1010", check=False)
        time.sleep(0.05)  # let a hover highlight go
        self.run_tool("import", "-window", str(wid), path)
        return path

    # --- the end ----------------------------------------------------------------

    def stop(self):
        """Ends what is still running (the program first) and removes the
        session's folder."""
        self.helpers = []
        while self.cleanups:
            self.cleanups.pop()()
        if self in Session.running:
            Session.running.remove(self)
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self._dpy is not None:
            try:
                self._dpy.close()
            except Exception:
                pass
            self._dpy = None
        if self.xvfb is not None and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        for f in (self._out, self._err, self._xvfb_err):
            if f:
                f.close()
        if not os.environ.get("VM_KEEP_WINDOW_TMP"):
            shutil.rmtree(self.dir, ignore_errors=True)
        shutil.rmtree(self.runtime, ignore_errors=True)
