#!/bin/sh
# run.sh BUILDDIR: starts the program on the sample rule sets.
#
# Where there is no real host application, the stand-in host is started
# first with the sample document, and stopped when the program ends. With
# no display, the whole thing runs under a virtual X server as a scripted
# demo: the first rule set is clicked, the window closed, and the styled
# document the stand-in host saved is printed.
set -eu

BUILD=${1:-build}
if [ ! -d "$BUILD" ]; then
  echo "run: no build folder $BUILD" >&2
  exit 1
fi
BUILD=$(cd "$BUILD" && pwd)
APP=$BUILD/Vellowmark.app/Contents/MacOS/Vellowmark
HOST=$BUILD/standin/vm-standin-host
DOC=$BUILD/standin/document.txt
SAVED=$BUILD/standin/styled.txt

if [ ! -x "$APP" ]; then
  echo "run: the program is not built: $APP is missing" >&2
  exit 1
fi

# A real host on macOS answers for itself; everywhere else the stand-in plays it.
# On macOS the program sends real Apple events and runs the compiled scripts
# in Resources/, which the stand-in cannot answer: it is never started there.
real_host=no
macos=no
if [ "$(uname -s)" = Darwin ]; then
  macos=yes
  SAVED=
  n=$(/usr/bin/osascript -e 'tell application "System Events" to count (processes whose creator type is "ART5")' 2>/dev/null || echo 0)
  [ "${n:-0}" -gt 0 ] && real_host=yes
  if [ "$real_host" = no ]; then
    echo "run: the host application is not running; the program will ask for it"
  fi
  for s in getcontents applyCS applyPS; do
    [ -f "$BUILD/Vellowmark.app/Contents/Resources/$s.scpt" ] ||
      echo "run: $s.scpt is missing from Vellowmark.app/Contents/Resources (see the README)"
  done
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vellowmark-run.XXXXXX")
HOST_PID=
APP_PID=
XVFB_PID=
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  if [ -n "$APP_PID" ]; then kill "$APP_PID" 2>/dev/null || true; fi
  if [ -n "$HOST_PID" ]; then
    kill "$HOST_PID" 2>/dev/null || true
    wait "$HOST_PID" 2>/dev/null || true
  fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

demo=no
if [ "$macos" = no ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  demo=yes
  echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set):"
  echo "run: running a scripted demo under a virtual X server (Xvfb)"
  for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "run: $tool is needed for the demo (make deps)" >&2; exit 1; }
  done
  /usr/bin/python3 -c 'import Xlib' 2>/dev/null ||
    { echo "run: python3-xlib is needed for the demo (make deps)" >&2; exit 1; }
  # Private folders: the demo leaves the user's preferences and event
  # folder alone.
  mkdir -m 700 "$WORK/run" "$WORK/config"
  XDG_RUNTIME_DIR=$WORK/run
  XDG_CONFIG_HOME=$WORK/config
  export XDG_RUNTIME_DIR XDG_CONFIG_HOME
  mkfifo "$WORK/xfifo"
  Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/xfifo" 2>"$WORK/xvfb.log" &
  XVFB_PID=$!
  read -r display_no <"$WORK/xfifo" || true
  if [ -z "${display_no:-}" ]; then
    echo "run: Xvfb did not start:" >&2
    cat "$WORK/xvfb.log" >&2
    exit 1
  fi
  DISPLAY=:$display_no
  export DISPLAY
fi

if [ "$real_host" = no ] && [ "$macos" = no ]; then
  if [ ! -x "$HOST" ] || [ ! -f "$DOC" ]; then
    echo "run: the stand-in host or its sample document is missing in $BUILD/standin" >&2
    exit 1
  fi
  host_args="--save $SAVED"
  [ "$demo" = yes ] && host_args="--headless $host_args"
  # shellcheck disable=SC2086  # host_args holds separate words by design
  "$HOST" $host_args "$DOC" >"$WORK/host.out" 2>"$WORK/host.err" &
  HOST_PID=$!
  # It says so once its socket is in place.
  tries=0
  until grep -q "listening on" "$WORK/host.err" 2>/dev/null; do
    if ! kill -0 "$HOST_PID" 2>/dev/null; then
      wait "$HOST_PID" 2>/dev/null || true
      HOST_PID=
      if grep -q "another stand-in host is running" "$WORK/host.err"; then
        echo "run: using the stand-in host that is already running"
        SAVED=
        break
      fi
      echo "run: the stand-in host did not start:" >&2
      cat "$WORK/host.err" >&2
      exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 500 ]; then
      echo "run: the stand-in host did not open its socket within 10 s" >&2
      exit 1
    fi
    sleep 0.02
  done
  [ -n "$HOST_PID" ] && echo "run: stand-in host started with $DOC"
fi

if [ "$demo" = no ]; then
  status=0
  "$APP" || status=$?
  [ -n "$SAVED" ] && [ "$real_host" = no ] && echo "run: the styled document is in $SAVED"
  exit "$status"
fi

# --- the scripted demo ---
"$APP" &
APP_PID=$!
tries=0
win=
while [ -z "$win" ]; do
  if ! kill -0 "$APP_PID" 2>/dev/null; then
    status=0
    wait "$APP_PID" || status=$?
    APP_PID=
    echo "run: the program ended (status $status) before its window appeared" >&2
    exit 1
  fi
  win=$(xdotool search --onlyvisible --name '^Vellowmark$' 2>/dev/null | head -n 1 || true)
  [ -n "$win" ] && break
  tries=$((tries + 1))
  if [ "$tries" -gt 2000 ]; then
    echo "run: no window titled Vellowmark within 20 s" >&2
    exit 1
  fi
  sleep 0.01
done
echo "run: window $win is up"

# The menu bar sits above the 160 x 160 content inside the window.
eval "$(xdotool getwindowgeometry --shell "$win")"
bar=$((HEIGHT - 160))
[ "$bar" -lt 0 ] && bar=0

saved_sum() { cksum "$SAVED" 2>/dev/null || true; }
before=$(saved_sum)
echo "run: clicking the first rule set"
xdotool mousemove --window "$win" 40 $((bar + 12)) click 1

# The styling run is over once the saved document has changed and then
# stayed the same for a moment (or nothing changed at all within 5 s).
tries=0
last=$before
quiet=0
while [ "$tries" -lt 250 ]; do
  sleep 0.02
  tries=$((tries + 1))
  now=$(saved_sum)
  if [ "$now" != "$last" ]; then
    last=$now
    quiet=0
  elif [ "$now" != "$before" ]; then
    quiet=$((quiet + 1))
    [ "$quiet" -ge 15 ] && break
  fi
done

echo "run: closing the window"
/usr/bin/python3 - "$win" <<'EOF'
import sys
from Xlib import X, display, protocol
d = display.Display()
w = d.create_resource_object("window", int(sys.argv[1]))
protocols = d.intern_atom("WM_PROTOCOLS")
delete = d.intern_atom("WM_DELETE_WINDOW")
w.send_event(protocol.event.ClientMessage(window=w, client_type=protocols,
                                          data=(32, [delete, X.CurrentTime, 0, 0, 0])),
             event_mask=X.NoEventMask)
d.flush()
EOF

tries=0
while kill -0 "$APP_PID" 2>/dev/null; do
  tries=$((tries + 1))
  if [ "$tries" -gt 1000 ]; then
    echo "run: the program did not quit within 10 s of the close" >&2
    exit 1
  fi
  sleep 0.01
done
status=0
wait "$APP_PID" || status=$?
APP_PID=
echo "run: the program ended with status $status"

if [ -n "$HOST_PID" ]; then
  kill "$HOST_PID"
  wait "$HOST_PID" 2>/dev/null || true
  HOST_PID=
  grep "refused" "$WORK/host.err" >&2 || true
  echo "run: the styled document the stand-in host saved ($SAVED):"
  cat "$SAVED"
fi
exit "$status"
