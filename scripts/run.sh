#!/usr/bin/env bash
# Installs what is missing, builds the program and starts the window.
#
# So that the program can be tried at once: when nothing listens on 127.0.0.1 port 21 and
# this user may listen there, a demo FTP server (anonymous, read and write, a demo folder
# in build/demo) runs for as long as the window is open. The window starts in the user's home
# folder.
#
# With no display (no DISPLAY or WAYLAND_DISPLAY), the window runs on a virtual display
# for a few seconds, a screenshot of it is saved to build/screenshot.png, and everything
# started here is stopped again.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=/usr/bin/python3
scripts/install-deps.sh build/servers >/dev/null
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target TalvoFTP talvoftp-cli >/dev/null

headless=false
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  headless=true
  missing=()
  command -v Xvfb >/dev/null || missing+=(xvfb)
  command -v import >/dev/null || missing+=(imagemagick)
  if ((${#missing[@]} > 0)); then
    echo "run: installing ${missing[*]} for the virtual display"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1 ||
      { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; }
  fi
fi

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    timeout 5 tail --pid="${pids[i]}" -f /dev/null 2>/dev/null || kill -9 "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- The demo server -----------------------------------------------------------------------
port_in_use() { "$PYTHON" - "$1" <<'PY'
import socket, sys
s = socket.socket()
s.settimeout(1)
sys.exit(0 if s.connect_ex(("127.0.0.1", int(sys.argv[1]))) == 0 else 1)
PY
}
may_listen_on_21() { "$PYTHON" - <<'PY'
import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind(("127.0.0.1", 21))
except OSError:
    sys.exit(1)
PY
}
make_demo_folder() {
  local root=$1
  [[ -d "$root" ]] && return
  mkdir -p "$root/documents" "$root/images"
  printf 'Bienvenue sur le serveur de démonstration de Talvo FTP.\r\nCopiez des fichiers dans les deux sens avec les flèches.\r\n' >"$root/lisezmoi.txt"
  printf 'Liste de courses :\r\n- pain\r\n- fromage\r\n' >"$root/notes.txt"
  printf 'Rapport annuel (exemple).\r\n' >"$root/documents/rapport.txt"
  head -c 65536 /dev/urandom >"$root/images/donnees.bin"
}

if port_in_use 21; then
  echo "run: something already listens on 127.0.0.1 port 21; no demo server started."
elif may_listen_on_21; then
  demo_root="$PWD/build/demo/ftp-root"
  make_demo_folder "$demo_root"
  coproc DEMO { exec "$PYTHON" scripts/demo_ftp_server.py "$demo_root" 21 2>>build/demo/server.log; }
  pids+=("$DEMO_PID")
  if read -r -t 10 -u "${DEMO[0]}" _; then
    echo "run: demo FTP server on 127.0.0.1 port 21, serving $demo_root"
    echo "run: in the window, press \"Connecter\", type the server name 127.0.0.1 and the user anonymous (any password)."
  else
    echo "run: the demo server did not start (see build/demo/server.log)." >&2
  fi
else
  echo "run: not allowed to listen on port 21 here; no demo server started."
fi

# --- The window ----------------------------------------------------------------------------
# It starts in the user's home folder, as from the desktop's menu: the local pane shows the
# process's directory, and files downloaded there must not land in the checkout.
window="$PWD/build/TalvoFTP"
if [[ $headless == false ]]; then
  (cd ~ && exec "$window")
  exit 0
fi

display=""
for n in $(seq 90 120); do
  if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
done
[[ -n "$display" ]] || { echo "run: no free virtual display number" >&2; exit 1; }
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=("$!")
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done

(cd ~ && DISPLAY="$display" exec "$window") >/dev/null 2>&1 &
pids+=("$!")
sleep 3
screenshot="$PWD/build/screenshot.png"
DISPLAY="$display" import -window root "$screenshot"
echo "run: no display here, so the window ran on a virtual display; its screenshot is $screenshot"
