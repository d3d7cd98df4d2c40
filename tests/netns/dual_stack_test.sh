#!/usr/bin/env bash
# A name with an IPv6 and an IPv4 address, as the system's resolver finds it, reaching
# pyftpdlib on ::1 only, then on 127.0.0.1 only; -4 or -6 keeps to one family. The name is
# in the test's own hosts file, bind-mounted over /etc/hosts in a private mount namespace
# that ends with each run of the console tool: the machine's file is never touched.
#
#   dual_stack_test.sh CLI PYFTPD_SERVER_PY      (exit status 77: skipped, no namespace)
set -euo pipefail
CLI="$1"
SERVER="$2"
NAME=talvo-dual-stack.test
work="$(mktemp -d)"
server_pid=""
trap '[[ -z "$server_pid" ]] || kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT

printf '::1 %s\n127.0.0.1 %s\n' "$NAME" "$NAME" >"$work/hosts"
with_hosts() {
  unshare --mount --propagation private sh -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$work/hosts" "$@"
}
with_hosts getent hosts "$NAME" >/dev/null 2>&1 || { echo "dual_stack_test: no mount namespace; skipped"; exit 77; }

mkdir "$work/root"
head -c 100000 /dev/urandom >"$work/root/file.bin"
status=0
for address in ::1 127.0.0.1; do
  [[ "$address" == ::1 ]] && own=-6 other=-4 || own=-4 other=-6
  /usr/bin/python3 "$SERVER" "$work/root" talvo secret 0 "address=$address" >"$work/port" &
  server_pid=$!
  for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.1; done
  login=(--port "$(head -n 1 "$work/port")" --user talvo --password secret --tls off --timeout-connect 5)
  for family in "" "$own"; do  # both families (the other one tried first, or second), then its own
    rm -f "$work/copy"
    if ! with_hosts "$CLI" $family "${login[@]}" "$NAME" get file.bin "$work/copy" >"$work/out" 2>&1 ||
       ! grep -qx "info ftpiConnected $address" "$work/out" || ! cmp -s "$work/root/file.bin" "$work/copy"; then
      echo "FAIL: $NAME ${family:-in both families} did not fetch the file from $address" >&2
      cat "$work/out" >&2
      status=1
    fi
  done
  if with_hosts "$CLI" "$other" "${login[@]}" "$NAME" ls >/dev/null 2>&1; then
    echo "FAIL: $other reached the server on $address" >&2
    status=1
  fi
  kill "$server_pid" && wait "$server_pid" 2>/dev/null || true
  server_pid=""
  rm -f "$work/port"
done
exit $status
