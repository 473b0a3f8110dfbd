#!/usr/bin/env bash
# Installs what is needed, builds the client and opens its window.
#
# Without MARROWBY_SERVER, when the default central server's host does not
# resolve, the stand-in server is started on a free local port for this run and
# stopped when the client exits; the script prints the line that starts a
# headless driver (another user) on it. Without a display the client runs
# on Xvfb (a virtual screen: nothing is seen, but it logs in and works
# once a user is stored). A first start asks for the user in the window, which
# nobody can answer there: without a display and with no stored user the
# script says so at once, installs and builds, says so again and stops there
# (exit status 0) instead of starting a client that would wait for ever.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

headless=""
first_start_note=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=yes
  if [ ! -e "${HOME:-}/.Marrowby" ]; then
    first_start_note='No display, and no user is stored yet: the client'"'"'s first-start questions
(user name and password) would wait on a virtual screen for an answer nobody
can give there, so this run only installs and builds. To set up your user,
run "bash scripts/run.sh" once where there is a display (a desktop session, or
"ssh -X" from one); later starts work here without a display.'
    echo "$first_start_note"
  fi
fi

bash "$top/scripts/deps.sh"
# Only what running needs: the client, the stand-in server and the driver (the
# tests, fuzz replays and benchmarks build with the test command).
MARROWBY_TARGETS="marrowby marrowby-server marrowby-driver" bash "$top/scripts/build.sh" "$top/build"
bin="$top/build/bin"

if [ -n "$first_start_note" ]; then
  echo
  echo "$first_start_note"
  echo "Built in $top/build; the client was not started."
  exit 0
fi

server_pid=""
server_log=""
screen_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    echo "Stopped the stand-in server."
  fi
  if [ -n "$screen_pid" ]; then
    kill "$screen_pid" 2>/dev/null || true
    wait "$screen_pid" 2>/dev/null || true
  fi
  # An if, not &&: the last status of the handler is the script's, and a run
  # without a stand-in must not end with 1.
  if [ -n "$server_log" ]; then rm -f "$server_log"; fi
}
trap cleanup EXIT

# Without a display: a virtual screen in a session of its own, so that Ctrl+C
# stops the client while its screen is still there to end on; the screen
# goes after the client.
use_virtual_screen() {
  local number_file
  number_file=$(mktemp)
  setsid Xvfb -displayfd 3 -screen 0 1400x900x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  screen_pid=$!
  local number=""
  for _ in $(seq 100); do
    number=$(head -n1 "$number_file")
    [ -n "$number" ] && break
    sleep 0.1
  done
  rm -f "$number_file"
  if [ -z "$number" ]; then
    echo "The virtual screen (Xvfb) did not start." >&2
    exit 1
  fi
  export DISPLAY=":$number"
}

# A client of this user that runs already only brings its window forward
# (and says so): no stand-in server is started for it.
client_running() {
  local runtime=${XDG_RUNTIME_DIR:-}
  if [ -z "$runtime" ] || [ ! -d "$runtime" ] || [ ! -O "$runtime" ]; then
    runtime="${TMPDIR:-/tmp}/runtime-$(id -un)"
  fi
  local pid
  pid=$(head -n1 "$runtime/MarrowbyQt-$(id -u).lock" 2>/dev/null) || return 1
  [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = marrowby ]
}
if client_running; then
  echo "Marrowby already runs for this user: no stand-in server is started."
  if [ -n "$headless" ]; then use_virtual_screen; fi
  "$bin/marrowby" "$@"
  exit
fi

if [ -z "${MARROWBY_SERVER:-}" ]; then
  default=$(sed -n 's/^MARROWBY_DEFAULT_SERVER:STRING=//p' "$top/build/CMakeCache.txt")
  host=${default%:*}
  if ! getent hosts "$host" >/dev/null 2>&1; then
    server_log=$(mktemp)
    "$bin/marrowby-server" --port 0 >"$server_log" 2>&1 &
    server_pid=$!
    port=""
    for _ in $(seq 100); do
      port=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$server_log" | head -n1)
      [ -n "$port" ] && break
      sleep 0.1
    done
    if [ -z "$port" ]; then
      echo "The stand-in server did not start:" >&2
      cat "$server_log" >&2
      exit 1
    fi
    export MARROWBY_SERVER="127.0.0.1:$port"
    echo "The central server $host does not resolve: using the stand-in server on $MARROWBY_SERVER for this run."
    echo "Another user on it, from a second terminal (a headless driver with a home and a user name of its own"
    echo "each time the line is pasted; --help lists its commands):"
    echo '  home=$(mktemp -d) && mkdir -m 700 "$home/run" && HOME="$home" XDG_RUNTIME_DIR="$home/run"' \
      "MARROWBY_SERVER=$MARROWBY_SERVER $(printf '%q' "$bin/marrowby-driver")" '--user "user-${home##*.}"'
  fi
fi

if [ -n "$headless" ]; then
  echo "No display: the client runs on a virtual screen (Xvfb) that nobody sees. It logs in as your stored"
  echo "user and shares and downloads as set before; a question it asks there waits unanswered. Ctrl+C stops it."
  use_virtual_screen
fi
"$bin/marrowby" "$@"
