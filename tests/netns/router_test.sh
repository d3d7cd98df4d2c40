#!/usr/bin/env bash
# A client behind a home router, for real: three network namespaces made here and removed
# at the end. The client (10.77.0.2) reaches the server (198.51.100.2, an address outside
# every private range) through a router namespace that masquerades it, as a home router
# does. vsftpd then refuses the client's PORT (it names 10.77.0.2, the server sees
# 198.51.100.1), so active mode fails; automatic mode starts in passive at once and works.
#
#   router_test.sh CLI VSFTPD
#
# Exit status 77 (skipped) where namespaces or NAT cannot be made (not root, no iptables).
set -euo pipefail

CLI="$1"
VSFTPD="$2"
SKIP=77

if [[ $EUID -ne 0 ]] || ! command -v ip >/dev/null || ! command -v iptables >/dev/null; then
  echo "router_test: needs root, ip and iptables; skipped"
  exit $SKIP
fi

id="$$"
client="talvo-client-$id"
router="talvo-router-$id"
server="talvo-server-$id"
work="$(mktemp -d)"
server_pid=""

cleanup() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    timeout 5 tail --pid="$server_pid" -f /dev/null 2>/dev/null || kill -9 "$server_pid" 2>/dev/null || true
  fi
  for ns in "$client" "$router" "$server"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

in_ns() { local ns="$1"; shift; ip netns exec "$ns" "$@"; }

if ! ip netns add "$client" 2>/dev/null; then
  echo "router_test: network namespaces are not available; skipped"
  exit $SKIP
fi
ip netns add "$router"
ip netns add "$server"
# Interface names are per namespace; the pairs are made in the router and moved out.
in_ns "$router" ip link add c0 type veth peer name r0
in_ns "$router" ip link set c0 netns "$client"
in_ns "$router" ip link add s0 type veth peer name r1
in_ns "$router" ip link set s0 netns "$server"
in_ns "$client" ip addr add 10.77.0.2/24 dev c0
in_ns "$router" ip addr add 10.77.0.1/24 dev r0
in_ns "$router" ip addr add 198.51.100.1/24 dev r1
in_ns "$server" ip addr add 198.51.100.2/24 dev s0
for pair in "$client c0" "$router r0" "$router r1" "$server s0"; do
  read -r ns dev <<<"$pair"
  in_ns "$ns" ip link set "$dev" up
  in_ns "$ns" ip link set lo up
done
in_ns "$client" ip route add default via 10.77.0.1
in_ns "$server" ip route add default via 198.51.100.1
in_ns "$router" sysctl -q -w net.ipv4.ip_forward=1
if ! in_ns "$router" iptables -t nat -A POSTROUTING -o r1 -j MASQUERADE 2>/dev/null; then
  echo "router_test: NAT cannot be set up here; skipped"
  exit $SKIP
fi

mkdir -p "$work/root" "$work/empty"
head -c 300000 /dev/urandom >"$work/root/file.bin"
chmod 0755 "$work/root" && chmod 0644 "$work/root/file.bin"
cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=198.51.100.2
listen_port=2121
background=NO
run_as_launching_user=YES
ftp_username=nobody
anonymous_enable=YES
anon_root=$work/root
no_anon_password=YES
local_enable=NO
connect_from_port_20=NO
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
CONF
# Not through in_ns: a function run in the background is a subshell of its own, and its id
# (what cleanup kills) would not be vsftpd's. `ip netns exec` execs vsftpd in its place.
ip netns exec "$server" "$VSFTPD" "$work/vsftpd.conf" >"$work/vsftpd.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  in_ns "$client" timeout 1 bash -c 'exec 3<>/dev/tcp/198.51.100.2/2121' 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/vsftpd.log"; exit 1; }
  sleep 0.1
done

run_cli() { in_ns "$client" timeout 60 "$CLI" --port 2121 --user anonymous --password x "$@" 198.51.100.2 ls get file.bin "$work/copy.bin"; }

failed=0
if run_cli --active >"$work/active.txt" 2>&1; then
  echo "FAIL: active mode worked through the router:"; cat "$work/active.txt"; failed=1
elif ! grep -q "^error ftpeUnexpectedReply" "$work/active.txt"; then
  echo "FAIL: active mode did not fail on the refused PORT:"; cat "$work/active.txt"; failed=1
fi
rm -f "$work/copy.bin"
if ! run_cli >"$work/automatic.txt" 2>&1; then
  echo "FAIL: automatic mode failed through the router:"; cat "$work/automatic.txt"; failed=1
elif ! grep -q "^info ftpiPassiveMode router" "$work/automatic.txt"; then
  echo "FAIL: automatic mode did not start in passive mode:"; cat "$work/automatic.txt"; failed=1
elif ! cmp -s "$work/root/file.bin" "$work/copy.bin"; then
  echo "FAIL: the downloaded copy differs"; failed=1
fi
((failed == 0)) && echo "router_test: active fails, automatic works through a masquerading router"
exit $failed
