#!/usr/bin/env bash
# SFTP benchmark: one file of 512 MiB down and up over loopback, in the same run, by
# talvoftp-cli (sftp://), OpenSSH's sftp client and curl's sftp://, against a private sshd
# (Debian's, unpacked, run unprivileged as a user of its own through nss_wrapper, key login
# only). Rounds alternate the clients; every copy is compared with the source; the median
# wall time, the paired ratio to OpenSSH's client and each client's peak memory (largest
# resident set, /usr/bin/time) are printed. Then the stop: how soon a transfer stopped a
# quarter of the way ends, and a listing after it in the same session.
#
#   bench/sftp.sh                              512 MiB, 3 rounds
#   BENCH_MIB=64 BENCH_RUNS=1 bench/sftp.sh
#
# Other settings: BENCH_BUILD_DIR (default build), BENCH_TMPDIR (default /dev/shm, so the
# disk stays out of the timings). Exit status 0 when every copy succeeded and is identical
# and ours is within 1.25x of OpenSSH's client both ways and under 16 MiB.
set -euo pipefail
cd "$(dirname "$0")/.."

MIB="${BENCH_MIB:-512}"
RUNS="${BENCH_RUNS:-3}"
BUILD_DIR="${BENCH_BUILD_DIR:-build}"
if [[ -z "${BENCH_TMPDIR:-}" ]]; then
  BENCH_TMPDIR=/tmp
  [[ -d /dev/shm && -w /dev/shm ]] && BENCH_TMPDIR=/dev/shm
fi
[[ "$MIB" =~ ^[1-9][0-9]*$ ]] || { echo "bench: BENCH_MIB must be a positive whole number" >&2; exit 2; }
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "bench: BENCH_RUNS must be a positive whole number" >&2; exit 2; }
LIMIT=$((60 + MIB))  # seconds for one copy: generous, only a bound

# --- Tools and build ---------------------------------------------------------------------
scripts/install-deps.sh "$BUILD_DIR/servers" >/dev/null
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! build_log="$(cmake --build "$BUILD_DIR" --target talvoftp-cli sftp_stop_bench 2>&1)"; then
  echo "bench: building talvoftp-cli and sftp_stop_bench failed" >&2
  tail -n 40 <<<"$build_log" >&2
  exit 1
fi
CLI="$BUILD_DIR/tools/talvoftp-cli"
SSHD="$(realpath "$BUILD_DIR/servers/openssh-server/usr/sbin/sshd")"

# --- Server and file ---------------------------------------------------------------------
work="$(mktemp -d "$BENCH_TMPDIR/talvo-sftp.XXXXXX")"
sshd_pid=""
cleanup() {
  if [[ -n "$sshd_pid" ]]; then
    kill "$sshd_pid" 2>/dev/null || true
    timeout 5 tail --pid="$sshd_pid" -f /dev/null 2>/dev/null || kill -9 "$sshd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

uid="$(/usr/bin/python3 -c 'import pwd
for u in range(52000, 60000):
    try: pwd.getpwuid(u)
    except KeyError: print(u); break')"
root="$work/root"
home="$work/home"
mkdir -p "$root" "$home/.ssh" "$work/copies"
chmod 0755 "$work"
echo "bench:x:$uid:$uid:bench:$root:/bin/sh" >"$work/passwd"
echo "bench:x:$uid:" >"$work/group"
ssh-keygen -q -t ed25519 -N '' -C '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -C '' -f "$home/.ssh/id_ed25519"
cp "$home/.ssh/id_ed25519.pub" "$work/authorized_keys"
echo "bench: writing $MIB MiB"
head -c "$((MIB << 20))" /dev/urandom >"$root/big.bin"
chown -R "$uid:$uid" "$root" "$work/host_key" "$work/authorized_keys"

port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
cat >"$work/sshd_config" <<CONF
ListenAddress 127.0.0.1:$port
HostKey $work/host_key
PidFile none
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
AuthorizedKeysFile $work/authorized_keys
StrictModes no
UseDNS no
Subsystem sftp internal-sftp -d $root
CONF
echo "[127.0.0.1]:$port $(cat "$work/host_key.pub")" >"$home/.ssh/known_hosts"
setpriv --reuid="$uid" --regid="$uid" --clear-groups env LD_PRELOAD=libnss_wrapper.so \
  NSS_WRAPPER_PASSWD="$work/passwd" NSS_WRAPPER_GROUP="$work/group" \
  "$SSHD" -D -e -f "$work/sshd_config" >"$work/sshd.log" 2>&1 &
sshd_pid=$!
for _ in $(seq 50); do
  timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null && break
  kill -0 "$sshd_pid" 2>/dev/null || { cat "$work/sshd.log" >&2; exit 1; }
  sleep 0.1
done

# --- Timed copies ------------------------------------------------------------------------
declare -A times=() memory=()  # "direction tool" -> space-separated microseconds / KiB

# timed DIRECTION TOOL COMMAND...: runs the command with a bounded wait, records its time
# and its largest resident set.
timed() {
  local direction="$1" tool="$2"
  shift 2
  local start end status=0
  start="$(date +%s%N)"
  timeout "$LIMIT" /usr/bin/time -o "$work/time.txt" -f '%M' "$@" >"$work/output.txt" 2>&1 || status=$?
  end="$(date +%s%N)"
  if ((status != 0)); then
    echo "bench: $direction with $tool failed (status $status): $*" >&2
    cat "$work/output.txt" >&2
    exit 1
  fi
  times["$direction $tool"]+="$(((end - start) / 1000)) "
  memory["$direction $tool"]+="$(tail -n 1 "$work/time.txt") "
}

# same COPY: the copy must equal the source; it is removed afterwards.
same() {
  if ! cmp -s "$root/big.bin" "$1"; then
    echo "bench: $1 differs from the source" >&2
    exit 1
  fi
  rm -f "$1"
}

export HOME="$home"
url="sftp://bench@127.0.0.1:$port"
ssh_options=(-q -o BatchMode=yes -o UserKnownHostsFile="$home/.ssh/known_hosts" -i "$home/.ssh/id_ed25519" -P "$port")
ours=("$CLI" --quiet)
curl_options=(-s -S --fail --insecure --key "$home/.ssh/id_ed25519" --pubkey "$home/.ssh/id_ed25519.pub" -u bench:)
echo "bench: $RUNS rounds of $MIB MiB against sshd on 127.0.0.1:$port"
for ((round = 1; round <= RUNS; round++)); do
  timed download ours "${ours[@]}" "$url" get big.bin "$work/copies/ours"
  same "$work/copies/ours"
  timed download openssh sftp "${ssh_options[@]}" "bench@127.0.0.1:big.bin" "$work/copies/openssh"
  same "$work/copies/openssh"
  timed download curl curl "${curl_options[@]}" -o "$work/copies/curl" "$url/~/big.bin"
  same "$work/copies/curl"
  timed upload ours "${ours[@]}" "$url" put "$root/big.bin" up-ours.bin
  same "$root/up-ours.bin"
  timed upload openssh sftp "${ssh_options[@]}" -b - "bench@127.0.0.1" <<<"put $root/big.bin up-openssh.bin"
  same "$root/up-openssh.bin"
  timed upload curl curl "${curl_options[@]}" -T "$root/big.bin" "$url/~/up-curl.bin"
  same "$root/up-curl.bin"
  echo "bench: round $round of $RUNS done"
done

# --- Figures -----------------------------------------------------------------------------
median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# The median over the rounds of TOOL/openssh in the same round.
paired() {
  local -a a b
  read -r -a a <<<"${times["$1 $2"]}"
  read -r -a b <<<"${times["$1 openssh"]}"
  local ratios=() i
  for i in "${!a[@]}"; do ratios+=("$(awk -v x="${a[i]}" -v y="${b[i]}" 'BEGIN { printf "%.6f", x / y }')"); done
  printf '%s\n' "${ratios[@]}" | sort -n |
    awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo
echo "SFTP benchmark: $MIB MiB, median of $RUNS, sshd on loopback"
echo "$(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s %-8s %10s %10s %12s %14s   %s\n' direction tool "median s" "MiB/s" "/openssh" "peak KiB" "all runs (s)"
verdict=0
for direction in download upload; do
  for tool in ours openssh curl; do
    # shellcheck disable=SC2086 # the figures are space-separated on purpose
    us="$(median ${times["$direction $tool"]})"
    # shellcheck disable=SC2086
    peak="$(printf '%s\n' ${memory["$direction $tool"]} | sort -n | tail -n 1)"
    # shellcheck disable=SC2086
    all="$(printf '%s\n' ${times["$direction $tool"]} | awk '{ printf "%.3f ", $1 / 1e6 }')"
    ratio="$(paired "$direction" "$tool")"
    awk -v d="$direction" -v t="$tool" -v us="$us" -v n="$MIB" -v r="$ratio" -v p="$peak" -v all="$all" \
      'BEGIN { printf "%-9s %-8s %10.3f %10.1f %12s %14s   %s\n", d, t, us / 1e6, n / (us / 1e6), r, p, all }'
    if [[ "$tool" == ours ]]; then
      awk -v r="$ratio" 'BEGIN { exit !(r <= 1.25) }' || { echo "bench: $direction is slower than 1.25x OpenSSH's client" >&2; verdict=1; }
      ((peak < 16384)) || { echo "bench: $direction took $peak KiB, over 16 MiB" >&2; verdict=1; }
    fi
  done
done
echo "All $((RUNS * 6)) copies identical to the source."
echo
echo "The stop (within 100 ms), then a listing in the same session:"
"$BUILD_DIR/bench/sftp_stop_bench" 127.0.0.1 "$port" bench "$home/.ssh/id_ed25519" big.bin "$root/big.bin" "$work/copies" \
  $(((MIB << 20) / 4)) || { echo "bench: the stop benchmark failed" >&2; verdict=1; }
exit "$verdict"
