#!/usr/bin/env bash
# IPv6 against IPv4: the same file downloaded and uploaded by talvoftp-cli (active mode, so
# EPRT against PORT) over ::1 and over 127.0.0.1, from two private vsftpd serving one
# folder, one on each address. Rounds alternate the families; every copy is compared byte
# for byte; the medians and the IPv6/IPv4 ratios, paired round by round, are printed.
#
#   bench/ipv6.sh                 512 MiB file, 5 rounds
#   BENCH_MIB=64 bench/ipv6.sh    a quicker run
#
# BENCH_RUNS, BENCH_BUILD_DIR and BENCH_TMPDIR as for bench/run.sh. Exit status 0 when every
# transfer succeeded and every copy is identical.
set -euo pipefail
cd "$(dirname "$0")/.."

MIB="${BENCH_MIB:-512}"
RUNS="${BENCH_RUNS:-5}"
BUILD_DIR="${BENCH_BUILD_DIR:-build}"
BENCH_TMPDIR="${BENCH_TMPDIR:-$([[ -d /dev/shm && -w /dev/shm ]] && echo /dev/shm || echo /tmp)}"
[[ "$MIB" =~ ^[1-9][0-9]*$ && "$RUNS" =~ ^[1-9][0-9]*$ ]] ||
  { echo "bench: BENCH_MIB and BENCH_RUNS must be positive whole numbers" >&2; exit 2; }
LIMIT=$((60 + MIB))  # seconds for one transfer: 1 MiB/s at worst

scripts/install-deps.sh "$BUILD_DIR/servers" >/dev/null
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target talvoftp-cli >/dev/null
CLI="$BUILD_DIR/tools/talvoftp-cli"
VSFTPD="$BUILD_DIR/servers/vsftpd/usr/sbin/vsftpd"

work="$(mktemp -d "$BENCH_TMPDIR/talvo-bench-ipv6.XXXXXX")"
source bench/vsftpd_anonymous.sh
trap bench_cleanup EXIT
trap 'exit 130' INT TERM

root="$work/root"
mkdir -p "$root/upload" "$work/empty"
chmod 0755 "$root" && chmod 0777 "$root/upload"
echo "bench: writing $MIB MiB of random bytes"
head -c "$((MIB * 1024 * 1024))" /dev/urandom >"$root/file.bin"
chmod 0644 "$root/file.bin"

declare -A port=()
# serve FAMILY LISTEN_LINES: a vsftpd for anonymous on a free port of that family's loopback.
serve() {
  local family="$1" listen="$2" host="127.0.0.1" p
  [[ "$family" == ipv6 ]] && host="::1"
  p="$(/usr/bin/python3 -c 'import socket, sys; s = socket.socket(socket.AF_INET6 if ":" in sys.argv[1] else socket.AF_INET)
s.bind((sys.argv[1], 0)); print(s.getsockname()[1])' "$host")"
  { printf '%s\nlisten_port=%s\n' "$listen" "$p"; vsftpd_anonymous_conf "$root" "$work/empty"; } >"$work/$family.conf"
  vsftpd_start "$work/$family.conf" "$host" "$p"
  port[$family]="$p"
}
serve ipv4 $'listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1'
serve ipv6 $'listen=NO\nlisten_ipv6=YES\nlisten_address6=::1'

declare -A times=()  # "direction family" -> microseconds, one per round
# transfer DIRECTION FAMILY: one timed transfer, its copy checked and removed.
transfer() {
  local direction="$1" family="$2" host=127.0.0.1 copy start end
  [[ "$family" == ipv6 ]] && host="[::1]"
  local args=(--quiet --active --tls off --port "${port[$family]}" --user anonymous --password x "$host")
  if [[ "$direction" == download ]]; then
    copy="$work/down.bin"
    args+=(get file.bin "$copy")
  else
    copy="$root/upload/$family.bin"
    args+=(put "$root/file.bin" "upload/$family.bin")
  fi
  start="$(date +%s%N)"
  if ! timeout "$LIMIT" "$CLI" "${args[@]}" >"$work/out" 2>&1 || ! grep -q "^done OnFile.* 1$" "$work/out"; then
    echo "bench: $direction over $family failed" >&2
    cat "$work/out" >&2
    exit 1
  fi
  end="$(date +%s%N)"
  cmp -s "$root/file.bin" "$copy" || { echo "bench: the $direction over $family differs" >&2; exit 1; }
  rm -f "$copy"
  times["$direction $family"]+="$(((end - start) / 1000)) "
}

echo "bench: $RUNS rounds of $MIB MiB, vsftpd on 127.0.0.1:${port[ipv4]} and [::1]:${port[ipv6]}"
for ((round = 1; round <= RUNS; round++)); do
  # Each round starts with the family the last one ended with, so neither always goes first.
  order=(ipv4 ipv6)
  ((round % 2 == 0)) && order=(ipv6 ipv4)
  for direction in download upload; do
    for family in "${order[@]}"; do transfer "$direction" "$family"; done
  done
  echo "bench: round $round of $RUNS done"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo
echo "IPv6 against IPv4: $MIB MiB, median of $RUNS, talvoftp-cli in active mode against vsftpd"
echo "$(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s %-6s %10s %10s\n' direction family "median s" "MiB/s"
for direction in download upload; do
  for family in ipv4 ipv6; do
    us="$(tr ' ' '\n' <<<"${times["$direction $family"]}" | grep . | median)"
    awk -v d="$direction" -v f="$family" -v us="$us" -v mib="$MIB" \
      'BEGIN { printf "%-9s %-6s %10.3f %10.1f\n", d, f, us / 1e6, mib / (us / 1e6) }'
  done
  read -r -a v4 <<<"${times["$direction ipv4"]}"
  read -r -a v6 <<<"${times["$direction ipv6"]}"
  ratio="$(for i in "${!v4[@]}"; do awk -v a="${v6[i]}" -v b="${v4[i]}" 'BEGIN { printf "%.6f\n", a / b }'; done |
    median)"
  printf '%-9s ipv6/ipv4 %.3f (paired by round; same speed expected)\n' "$direction" "$ratio"
done
echo "All $((RUNS * 4)) copies identical to the source."
