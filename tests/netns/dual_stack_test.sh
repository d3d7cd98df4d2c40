#!/usr/bin/env bash
# A name with an IPv6 and an IPv4 address, found by the system's resolver, reaching a server
# that listens on only one of them: pyftpdlib on ::1, then on 127.0.0.1. The name is in a
# hosts file of the test's own, bind-mounted over /etc/hosts in a private mount namespace
# that ends with each run of the console tool (the machine's file is never touched). -4 and
# -6 keep to one family: the server's own works, the other fails.
#
#   dual_stack_test.sh CLI PYFTPD_SERVER_PY
#
# Exit status 77 (skipped) where a mount namespace cannot be made (not root, no unshare).
set -euo pipefail

CLI="$1"
SERVER="$2"
SKIP=77
NAME=talvo-dual-stack.test

work="$(mktemp -d)"
server_pid=""
cleanup() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    timeout 5 tail --pid="$server_pid" -f /dev/null 2>/dev/null || kill -9 "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

printf '::1 %s\n127.0.0.1 %s\n' "$NAME" "$NAME" >"$work/hosts"
# with_hosts COMMAND...: runs the command where /etc/hosts is the test's file.
with_hosts() {
  unshare --mount --propagation private sh -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$work/hosts" "$@"
}
if ! with_hosts getent ahosts "$NAME" >/dev/null 2>&1; then
  echo "dual_stack_test: no private mount namespace here (needs root and unshare); skipped"
  exit $SKIP
fi

mkdir -p "$work/root"
head -c 100000 /dev/urandom >"$work/root/file.bin"
status=0
for address in ::1 127.0.0.1; do
  [[ "$address" == ::1 ]] && own=-6 other=-4 || own=-4 other=-6
  /usr/bin/python3 "$SERVER" "$work/root" talvo secret 0 "address=$address" >"$work/port" 2>"$work/server.log" &
  server_pid=$!
  for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.1; done
  port="$(head -n 1 "$work/port")"
  [[ -n "$port" ]] || { echo "dual_stack_test: pyftpdlib did not start on $address" >&2; exit 1; }
  login=(--port "$port" --user talvo --password secret --tls off --timeout-connect 5)
  for family in "" "$own"; do
    rm -f "$work/copy"
    if ! with_hosts "$CLI" $family "${login[@]}" "$NAME" get file.bin "$work/copy" >"$work/out" 2>&1 ||
       ! grep -qx "info ftpiConnected $address" "$work/out" || ! cmp -s "$work/root/file.bin" "$work/copy"; then
      echo "FAIL: $NAME ${family:-(both families)} did not fetch the file from $address" >&2
      cat "$work/out" >&2
      status=1
    fi
  done
  if with_hosts "$CLI" "$other" "${login[@]}" "$NAME" ls >"$work/out" 2>&1; then
    echo "FAIL: $other reached the server on $address" >&2
    status=1
  fi
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
  rm -f "$work/port"
done
((status == 0)) && echo "dual_stack_test: a name of both families reached servers on ::1 and on 127.0.0.1"
exit $status
