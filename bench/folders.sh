#!/usr/bin/env bash
# Folder benchmark: a folder of 2000 small files copied down (get -r) and up (put -r) by
# talvoftp-cli and by `lftp mirror` (down) and `mirror -R` (up), in the same run, against a
# private vsftpd on 127.0.0.1, both clients in passive mode and in clear. Rounds alternate
# the two clients; every copy is compared with the source; the medians and the paired
# ratio ours/lftp are printed.
#
#   bench/folders.sh                      2000 files of 1 to 8 KiB, 3 rounds
#   BENCH_FILES=500 BENCH_RUNS=1 bench/folders.sh
#
# Other settings: BENCH_BUILD_DIR (default build), BENCH_TMPDIR (default /dev/shm, so the
# disk stays out of the timings). Exit status 0 when every copy succeeded and is identical.
set -euo pipefail
cd "$(dirname "$0")/.."

FILES="${BENCH_FILES:-2000}"
RUNS="${BENCH_RUNS:-3}"
BUILD_DIR="${BENCH_BUILD_DIR:-build}"
if [[ -z "${BENCH_TMPDIR:-}" ]]; then
  BENCH_TMPDIR=/tmp
  [[ -d /dev/shm && -w /dev/shm ]] && BENCH_TMPDIR=/dev/shm
fi
[[ "$FILES" =~ ^[1-9][0-9]*$ ]] || { echo "bench: BENCH_FILES must be a positive whole number" >&2; exit 2; }
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "bench: BENCH_RUNS must be a positive whole number" >&2; exit 2; }
LIMIT=$((120 + FILES / 10))  # seconds for one copy: generous, only a bound

# --- Tools and build ---------------------------------------------------------------------
scripts/install-deps.sh "$BUILD_DIR/servers" >/dev/null
if ! command -v lftp >/dev/null; then
  echo "bench: installing lftp (the client compared with)"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends lftp >/dev/null 2>&1 ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends lftp >/dev/null; }
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! build_log="$(cmake --build "$BUILD_DIR" --target talvoftp-cli 2>&1)"; then
  echo "bench: building talvoftp-cli failed" >&2
  tail -n 40 <<<"$build_log" >&2
  exit 1
fi
CLI="$BUILD_DIR/tools/talvoftp-cli"
VSFTPD="$BUILD_DIR/servers/vsftpd/usr/sbin/vsftpd"

# --- Server and folder -------------------------------------------------------------------
work="$(mktemp -d "$BENCH_TMPDIR/talvo-folders.XXXXXX")"
source bench/vsftpd_anonymous.sh
trap bench_cleanup EXIT
trap 'exit 130' INT TERM

root="$work/root"
mkdir -p "$root/tree" "$root/upload" "$work/empty" "$work/copies"
chmod 0755 "$root" && chmod 0777 "$root/upload"
echo "bench: writing $FILES files"
/usr/bin/python3 - "$root/tree" "$FILES" <<'PY'
import os, random, sys
folder, count = sys.argv[1], int(sys.argv[2])
random.seed(7)
for i in range(count):
    with open(os.path.join(folder, "file %04d.txt" % i), "wb") as f:
        f.write(os.urandom(random.randint(1024, 8192)))
PY
chmod -R a+rX "$root/tree"

port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
{
  printf 'listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%s\n' "$port"
  vsftpd_anonymous_conf "$root" "$work/empty"
  printf 'anon_mkdir_write_enable=YES\npasv_enable=YES\n'
} >"$work/vsftpd.conf"
vsftpd_start "$work/vsftpd.conf" 127.0.0.1 "$port"

# --- Timed copies ------------------------------------------------------------------------
declare -A times=()  # "direction tool" -> space-separated microseconds

# timed DIRECTION TOOL COMMAND...: runs the command with a bounded wait and records its time.
timed() {
  local direction="$1" tool="$2"
  shift 2
  local start end status=0
  start="$(date +%s%N)"
  timeout "$LIMIT" "$@" >"$work/output.txt" 2>&1 || status=$?
  end="$(date +%s%N)"
  if ((status != 0)); then
    echo "bench: $direction with $tool failed (status $status): $*" >&2
    cat "$work/output.txt" >&2
    exit 1
  fi
  times["$direction $tool"]+="$(((end - start) / 1000)) "
}

# same COPY: the copied folder must equal the source; it is removed afterwards.
same() {
  if ! diff -r -q "$root/tree" "$1" >/dev/null; then
    echo "bench: $1 differs from the source folder" >&2
    diff -r -q "$root/tree" "$1" | head >&2 || true
    exit 1
  fi
  rm -rf "$1"
}

# The same settings as ours: passive, in clear, one connection, no retries.
settings="set ftp:ssl-allow no; set ftp:passive-mode yes; set net:max-retries 1; set cmd:fail-exit yes"
lftp_login=(-u anonymous,x -p "$port" 127.0.0.1)

ours=("$CLI" --quiet --passive --tls off --port "$port" --user anonymous --password x 127.0.0.1)
export XDG_CONFIG_HOME="$work/config"
echo "bench: $RUNS rounds of $FILES files against vsftpd on 127.0.0.1:$port"
for ((round = 1; round <= RUNS; round++)); do
  timed download ours "${ours[@]}" get -r tree "$work/copies/ours"
  same "$work/copies/ours"
  timed download lftp lftp -e "$settings; mirror tree '$work/copies/lftp'; quit" "${lftp_login[@]}"
  same "$work/copies/lftp"
  timed upload ours "${ours[@]}" put -r "$root/tree" "upload/ours"
  same "$root/upload/ours"
  timed upload lftp lftp -e "$settings; mirror -R '$root/tree' upload/lftp; quit" "${lftp_login[@]}"
  same "$root/upload/lftp"
  echo "bench: round $round of $RUNS done"
done

# --- Figures -----------------------------------------------------------------------------
median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# The median over the rounds of ours/lftp in the same round: what else the machine does
# weighs on both alike.
paired() {
  local -a a b
  read -r -a a <<<"${times["$1 ours"]}"
  read -r -a b <<<"${times["$1 lftp"]}"
  local ratios=() i
  for i in "${!a[@]}"; do ratios+=("$(awk -v x="${a[i]}" -v y="${b[i]}" 'BEGIN { printf "%.6f", x / y }')"); done
  printf '%s\n' "${ratios[@]}" | sort -n |
    awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo
echo "Folder benchmark: $FILES files of 1 to 8 KiB, median of $RUNS, vsftpd on loopback, passive, in clear"
echo "$(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s %-5s %10s %12s   %s\n' direction tool "median s" "files/s" "all runs (s)"
for direction in download upload; do
  for tool in ours lftp; do
    # shellcheck disable=SC2086 # the figures are space-separated on purpose
    us="$(median ${times["$direction $tool"]})"
    # shellcheck disable=SC2086
    all="$(printf '%s\n' ${times["$direction $tool"]} | awk '{ printf "%.3f ", $1 / 1e6 }')"
    awk -v d="$direction" -v t="$tool" -v us="$us" -v n="$FILES" -v all="$all" \
      'BEGIN { printf "%-9s %-5s %10.3f %12.0f   %s\n", d, t, us / 1e6, n / (us / 1e6), all }'
  done
done
for direction in download upload; do
  printf '%-9s ours/lftp %s\n' "$direction" "$(paired "$direction")"
done
echo "All $((RUNS * 4)) copies identical to the source."
