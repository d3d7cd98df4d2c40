#!/usr/bin/env bash
# Transfer benchmark: talvoftp-cli in active and in passive mode, and encrypted (explicit
# TLS, passive), against curl (active mode in clear, passive over TLS) and a bare 2048-byte
# baseline, all against a private vsftpd on 127.0.0.1 that offers TLS without requiring it.
# Downloads and uploads alternate, every copy is compared byte for byte, and the medians
# (wall time and processor time, user + system), the ratios paired round by round and our
# peak memory (plain and TLS) are printed.
#
#   bench/run.sh                       512 MiB file, 5 rounds
#   BENCH_MIB=64 bench/run.sh          a quicker run (any size in MiB)
#   BENCH_SYSCALLS=1 bench/run.sh      then one more transfer of each kind under strace -c:
#                                      system calls per MiB, ours against bare and curl
#
# Other settings: BENCH_RUNS (rounds, default 5), BENCH_BUILD_DIR (default build),
# BENCH_TMPDIR (where the file and the copies live; default /dev/shm so the disk stays out
# of the timings). Exit status 0 when every transfer succeeded and every copy is identical;
# the targets are reported, they do not change the exit status.
set -euo pipefail
cd "$(dirname "$0")/.."

MIB="${BENCH_MIB:-512}"
RUNS="${BENCH_RUNS:-5}"
BUILD_DIR="${BENCH_BUILD_DIR:-build}"
if [[ -z "${BENCH_TMPDIR:-}" ]]; then
  BENCH_TMPDIR=/tmp
  [[ -d /dev/shm && -w /dev/shm ]] && BENCH_TMPDIR=/dev/shm
fi
[[ "$MIB" =~ ^[1-9][0-9]*$ ]] || { echo "bench: BENCH_MIB must be a positive whole number" >&2; exit 2; }
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "bench: BENCH_RUNS must be a positive whole number" >&2; exit 2; }

# Generous bound for one transfer: a minute plus one second per MiB (1 MiB/s at worst).
TRANSFER_LIMIT=$((60 + MIB))

# --- Tools and build ---------------------------------------------------------------------
scripts/install-deps.sh "$BUILD_DIR/servers" >/dev/null
# install_tool PROGRAM PACKAGE: the Debian package, unless its program is there already.
install_tool() {
  [[ -x "$1" ]] && return 0
  echo "bench: installing $2"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends "$2" >/dev/null 2>&1 ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends "$2" >/dev/null; }
}
install_tool /usr/bin/time time
[[ -n "${BENCH_SYSCALLS:-}" ]] && install_tool /usr/bin/strace strace
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! build_log="$(cmake --build "$BUILD_DIR" --target talvoftp-cli 2>&1)"; then
  echo "bench: building talvoftp-cli failed" >&2
  tail -n 40 <<<"$build_log" >&2
  exit 1
fi
mkdir -p "$BUILD_DIR/bench"
for baseline in baseline_download baseline_upload; do
  g++ -std=c++20 -O2 -Wall -Wextra -Werror "bench/$baseline.cpp" -o "$BUILD_DIR/bench/$baseline"
done

CLI="$BUILD_DIR/tools/talvoftp-cli"
VSFTPD="$BUILD_DIR/servers/vsftpd/usr/sbin/vsftpd"
BARE_GET="$BUILD_DIR/bench/baseline_download"
BARE_PUT="$BUILD_DIR/bench/baseline_upload"

# --- Server ------------------------------------------------------------------------------
work="$(mktemp -d "$BENCH_TMPDIR/talvo-bench.XXXXXX")"
source bench/vsftpd_anonymous.sh
trap bench_cleanup EXIT
trap 'exit 130' INT TERM

root="$work/root"
mkdir -p "$root/upload" "$work/empty" "$work/copies"
chmod 0755 "$root" && chmod 0777 "$root/upload"

echo "bench: writing $MIB MiB of random bytes"
head -c "$((MIB * 1024 * 1024))" /dev/urandom >"$root/file.bin"
chmod 0644 "$root/file.bin"

port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
# A certificate of its own; the client trusts it by its fingerprint.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
fingerprint="$(openssl x509 -noout -fingerprint -sha256 -in "$work/cert.pem" | cut -d= -f2)"
{
  printf 'listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%s\n' "$port"
  vsftpd_anonymous_conf "$root" "$work/empty"
  cat <<EOF
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=NO
force_anon_data_ssl=NO
rsa_cert_file=$work/cert.pem
rsa_private_key_file=$work/key.pem
EOF
} >"$work/vsftpd.conf"
vsftpd_start "$work/vsftpd.conf" 127.0.0.1 "$port"

# --- One timed transfer ------------------------------------------------------------------
declare -A times=()   # "direction tool" -> space-separated microseconds of wall time
declare -A cpu=()     # "direction tool" -> space-separated microseconds of processor time
peak_kib=0            # our tool's highest peak resident set over the plain runs
tls_peak_kib=0        # and over the encrypted ones

# timed DIRECTION TOOL COMMAND...: runs the command under /usr/bin/time with a bounded wait,
# records its wall time and its processor time (user + system), and for our tool its peak
# resident set.
timed() {
  local direction="$1" tool="$2"
  shift 2
  local start end status=0
  start="$(date +%s%N)"
  timeout "$TRANSFER_LIMIT" /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/output.txt" 2>&1 || status=$?
  end="$(date +%s%N)"
  if ((status != 0)); then
    echo "bench: $direction with $tool failed (status $status): $*" >&2
    cat "$work/output.txt" >&2
    exit 1
  fi
  times["$direction $tool"]+="$(((end - start) / 1000)) "
  cpu["$direction $tool"]+="$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%d", s * 1e6 }' \
    "$work/time.txt") "
  if [[ "$tool" == ours || "$tool" == passive || "$tool" == tls ]]; then
    local event=OnFileStored
    [[ "$direction" == download ]] && event=OnFileReceived
    if ! grep -q "^done $event 1$" "$work/output.txt"; then
      echo "bench: talvoftp-cli did not report success:" >&2
      cat "$work/output.txt" >&2
      exit 1
    fi
    local kib
    kib="$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")"
    if [[ "$tool" == tls ]]; then
      ((kib > tls_peak_kib)) && tls_peak_kib=$kib
    else
      ((kib > peak_kib)) && peak_kib=$kib
    fi
  fi
  return 0
}

# same COPY: the copy must equal the source byte for byte; it is removed afterwards.
same() {
  if ! cmp -s "$root/file.bin" "$1"; then
    echo "bench: $1 differs from the source file" >&2
    exit 1
  fi
  rm -f "$1"
}

url="ftp://127.0.0.1:$port"
login=(--port "$port" --user anonymous --password x)
plain=(--tls off)
tls=(--tls require --trust-fingerprint "$fingerprint")
# The curl of Debian 12 fails to take an active TLS data connection (its inet_ntop of the
# accepted address fails), so both encrypted clients run in passive mode.
curltls=(curl -s -S --ssl-reqd --cacert "$work/cert.pem")
export XDG_CONFIG_HOME="$work/config"  # what the client remembers of the server stays here
echo "bench: $RUNS rounds of $MIB MiB against vsftpd on 127.0.0.1:$port"
for ((round = 1; round <= RUNS; round++)); do
  copy="$work/copies/down.bin"
  timed download ours "$CLI" --quiet --active "${plain[@]}" "${login[@]}" 127.0.0.1 get file.bin "$copy"
  same "$copy"
  timed download passive "$CLI" --quiet --passive "${plain[@]}" "${login[@]}" 127.0.0.1 get file.bin "$copy"
  same "$copy"
  timed download tls "$CLI" --quiet --passive "${tls[@]}" "${login[@]}" 127.0.0.1 get file.bin "$copy"
  same "$copy"
  timed download curltls "${curltls[@]}" -o "$copy" "$url/file.bin"
  same "$copy"
  timed download curl curl -s -S -P - -o "$copy" "$url/file.bin"
  same "$copy"
  timed download bare "$BARE_GET" "$port" file.bin "$copy"
  same "$copy"

  timed upload ours "$CLI" --quiet --active "${plain[@]}" "${login[@]}" 127.0.0.1 put "$root/file.bin" upload/ours.bin
  same "$root/upload/ours.bin"
  timed upload passive "$CLI" --quiet --passive "${plain[@]}" "${login[@]}" 127.0.0.1 put "$root/file.bin" \
    upload/passive.bin
  same "$root/upload/passive.bin"
  timed upload tls "$CLI" --quiet --passive "${tls[@]}" "${login[@]}" 127.0.0.1 put "$root/file.bin" upload/tls.bin
  same "$root/upload/tls.bin"
  timed upload curltls "${curltls[@]}" -T "$root/file.bin" "$url/upload/curltls.bin"
  same "$root/upload/curltls.bin"
  timed upload curl curl -s -S -P - -T "$root/file.bin" "$url/upload/curl.bin"
  same "$root/upload/curl.bin"
  timed upload bare "$BARE_PUT" "$port" "$root/file.bin" upload/bare.bin
  same "$root/upload/bare.bin"
  echo "bench: round $round of $RUNS done"
done

# --- Figures -----------------------------------------------------------------------------
tools=(ours passive tls curltls curl bare)
median() {  # median of the microsecond figures on the command line
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# paired KIND A B: the median, over the rounds, of A's figure over B's in the same round
# (KIND: times for wall time, cpu for processor time). Runs of one round are seconds apart,
# so what else the machine does weighs on both alike.
paired() {
  local -n figures="$1"
  local -a a b
  read -r -a a <<<"${figures[$2]}"
  read -r -a b <<<"${figures[$3]}"
  local ratios=() i
  for i in "${!a[@]}"; do ratios+=("$(awk -v x="${a[i]}" -v y="${b[i]}" 'BEGIN { printf "%.6f", x / y }')"); done
  printf '%s\n' "${ratios[@]}" | sort -n |
    awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v <= limit) ? "met" : "MISSED" }'; }

echo
echo "Transfer benchmark: $MIB MiB, median of $RUNS, vsftpd on loopback (ours: active, passive and TLS" \
  "passive; curl: active, and TLS passive; bare: active)"
# Other work on the machine skews the figures; say how busy it was.
echo "$(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s %-8s %9s %9s %9s   %s\n' direction tool "wall s" "MiB/s" "cpu s" "all runs, wall/cpu (s)"
for direction in download upload; do
  for tool in "${tools[@]}"; do
    # shellcheck disable=SC2086 # the figures are space-separated on purpose
    wall="$(median ${times["$direction $tool"]})"
    # shellcheck disable=SC2086
    used="$(median ${cpu["$direction $tool"]})"
    all="$(paste -d/ <(printf '%s\n' ${times["$direction $tool"]}) <(printf '%s\n' ${cpu["$direction $tool"]}) |
      awk -F/ '{ printf "%.2f/%.2f ", $1 / 1e6, $2 / 1e6 }')"
    awk -v d="$direction" -v t="$tool" -v wall="$wall" -v used="$used" -v mib="$MIB" -v all="$all" \
      'BEGIN { printf "%-9s %-8s %9.3f %9.1f %9.3f   %s\n", d, t, wall / 1e6, mib / (wall / 1e6), used / 1e6, all }'
  done
done
echo
# Ratios are paired round by round (see paired), which holds on a shared, noisy machine.
peak_mib="$(awk -v k="$peak_kib" 'BEGIN { printf "%.1f", k / 1024 }')"
for direction in download upload; do
  bare_cpu="$(paired cpu "$direction ours" "$direction bare")"
  passive_ratio="$(paired times "$direction passive" "$direction ours")"
  tls_cpu="$(paired cpu "$direction tls" "$direction curltls")"
  tls_ratio="$(paired times "$direction tls" "$direction passive")"
  printf '%-9s ours/bare cpu %s (target <= 1.05: %s), wall %s   passive/active wall %s (target <= 1.05: %s)\n' \
    "$direction" "$bare_cpu" "$(verdict "$bare_cpu" 1.05)" "$(paired times "$direction ours" "$direction bare")" \
    "$passive_ratio" "$(verdict "$passive_ratio" 1.05)"
  printf '%-9s tls/curl cpu %s (target <= 1.20: %s), wall %s   tls/plain wall %s (target <= 1.50: %s)   ours/curl wall %s\n' \
    "$direction" "$tls_cpu" "$(verdict "$tls_cpu" 1.2)" "$(paired times "$direction tls" "$direction curltls")" \
    "$tls_ratio" "$(verdict "$tls_ratio" 1.5)" "$(paired times "$direction ours" "$direction curl")"
done
printf 'memory    ours peak resident %s MiB  (target < 16 MiB: %s), with TLS %s MiB\n' "$peak_mib" \
  "$(awk -v k="$peak_kib" 'BEGIN { print (k < 16 * 1024) ? "met" : "MISSED" }')" \
  "$(awk -v k="$tls_peak_kib" 'BEGIN { printf "%.1f", k / 1024 }')"
echo "All $((RUNS * 12)) copies identical to the source."

# --- System calls ------------------------------------------------------------------------
[[ -z "${BENCH_SYSCALLS:-}" ]] && exit 0
# counted DIRECTION TOOL COMMAND...: the command's system calls under strace -c, per MiB.
# strace slows the traced side, so the counts say what each transfer asks of the kernel,
# not how long it takes.
counted() {
  local direction="$1" tool="$2"
  shift 2
  timeout "$((TRANSFER_LIMIT * 20))" strace -f -c -o "$work/strace.txt" "$@" >"$work/output.txt" 2>&1 ||
    { echo "bench: $direction with $tool under strace failed: $*" >&2; cat "$work/output.txt" >&2; exit 1; }
  awk -v d="$direction" -v t="$tool" -v mib="$MIB" '$NF == "total" { calls = $4 } END {
      printf "%-9s %-8s %10.1f system calls per MiB\n", d, t, calls / mib }' "$work/strace.txt"
}
echo
echo "System calls, one transfer each under strace -c"
copy="$work/copies/down.bin"
counted download ours "$CLI" --quiet --active "${plain[@]}" "${login[@]}" 127.0.0.1 get file.bin "$copy"
counted download bare "$BARE_GET" "$port" file.bin "$copy"
counted download tls "$CLI" --quiet --passive "${tls[@]}" "${login[@]}" 127.0.0.1 get file.bin "$copy"
counted download curltls "${curltls[@]}" -o "$copy" "$url/file.bin"
same "$copy"
counted upload ours "$CLI" --quiet --active "${plain[@]}" "${login[@]}" 127.0.0.1 put "$root/file.bin" upload/ours.bin
counted upload bare "$BARE_PUT" "$port" "$root/file.bin" upload/bare.bin
counted upload tls "$CLI" --quiet --passive "${tls[@]}" "${login[@]}" 127.0.0.1 put "$root/file.bin" upload/tls.bin
counted upload curltls "${curltls[@]}" -T "$root/file.bin" "$url/upload/curltls.bin"
same "$root/upload/tls.bin"
same "$root/upload/curltls.bin"
