#!/usr/bin/env bash
# Folder benchmark: a folder of 2000 small files copied down (get -r) and up (put -r) by
# talvoftp-cli and by `lftp mirror` (down) and `mirror -R` (up), in the same run, both
# clients in passive mode, against three private servers on 127.0.0.1: vsftpd in clear, and
# pyftpdlib and proftpd, both requiring TLS (control and data). Rounds alternate the two
# clients; every copy is compared with the source; the medians, the time per file and the
# paired ratio ours/lftp are printed.
#
#   bench/folders.sh                      2000 files of 1 to 8 KiB, 3 rounds, every server
#   BENCH_FILES=500 BENCH_RUNS=1 bench/folders.sh
#   BENCH_SERVERS="proftpd" bench/folders.sh     some of: vsftpd pyftpdlib proftpd
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
read -r -a SERVERS <<<"${BENCH_SERVERS:-vsftpd pyftpdlib proftpd}"
for server in "${SERVERS[@]}"; do
  [[ "$server" =~ ^(vsftpd|pyftpdlib|proftpd)$ ]] ||
    { echo "bench: BENCH_SERVERS names vsftpd, pyftpdlib or proftpd, not $server" >&2; exit 2; }
done
LIMIT=$((120 + FILES / 10))  # seconds for one copy: generous, only a bound

# --- Tools and build ---------------------------------------------------------------------
scripts/install-deps.sh --bench "$BUILD_DIR/servers" >/dev/null
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! build_log="$(cmake --build "$BUILD_DIR" --target talvoftp-cli 2>&1)"; then
  echo "bench: building talvoftp-cli failed" >&2
  tail -n 40 <<<"$build_log" >&2
  exit 1
fi
CLI="$BUILD_DIR/tools/talvoftp-cli"
VSFTPD="$BUILD_DIR/servers/vsftpd/usr/sbin/vsftpd"

# --- Folder and servers ------------------------------------------------------------------
work="$(mktemp -d "$BENCH_TMPDIR/talvo-folders.XXXXXX")"
source bench/vsftpd_anonymous.sh
source bench/proftpd_tls.sh
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

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# The TLS servers' certificate; both clients trust it (ours by its fingerprint).
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
fingerprint="$(openssl x509 -noout -fingerprint -sha256 -in "$work/cert.pem" | cut -d= -f2)"

declare -A port=() login=()  # server -> its port; its user,password
for server in "${SERVERS[@]}"; do
  port[$server]="$(free_port)"
  login[$server]="bench,x"
  case "$server" in
    vsftpd)
      login[$server]="anonymous,x"
      {
        printf 'listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%s\n' "${port[$server]}"
        vsftpd_anonymous_conf "$root" "$work/empty"
        printf 'anon_mkdir_write_enable=YES\npasv_enable=YES\n'
      } >"$work/vsftpd.conf"
      vsftpd_start "$work/vsftpd.conf" 127.0.0.1 "${port[$server]}"
      ;;
    pyftpdlib)
      bench_serve pyftpdlib "$work/pyftpdlib.log" 127.0.0.1 "${port[$server]}" /usr/bin/python3 \
        tests/support/pyftpd_server.py "$root" bench x "${port[$server]}" "tls=$work/cert.pem,$work/key.pem"
      ;;
    proftpd)
      proftpd_tls_start "$work" "$root" "${port[$server]}" "$work/cert.pem" "$work/key.pem"
      ;;
  esac
done

# --- Timed copies ------------------------------------------------------------------------
declare -A times=()  # "server direction tool" -> space-separated microseconds

# timed SERVER DIRECTION TOOL COMMAND...: runs the command with a bounded wait and records
# its time.
timed() {
  local server="$1" direction="$2" tool="$3"
  shift 3
  local start end status=0
  start="$(date +%s%N)"
  timeout "$LIMIT" "$@" >"$work/output.txt" 2>&1 || status=$?
  end="$(date +%s%N)"
  if ((status != 0)); then
    echo "bench: $direction with $tool on $server failed (status $status): $*" >&2
    cat "$work/output.txt" >&2
    exit 1
  fi
  times["$server $direction $tool"]+="$(((end - start) / 1000)) "
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

# The same settings as ours: passive, one connection, no retries; in clear on vsftpd, TLS
# required on the others (with the certificate trusted).
lftp_common="set ftp:passive-mode yes; set net:max-retries 1; set cmd:fail-exit yes"
lftp_clear="set ftp:ssl-allow no"
lftp_tls="set ftp:ssl-force yes; set ftp:ssl-protect-data yes; set ssl:ca-file $work/cert.pem"

export XDG_CONFIG_HOME="$work/config"
echo "bench: $RUNS rounds of $FILES files against ${SERVERS[*]} on 127.0.0.1"
for ((round = 1; round <= RUNS; round++)); do
  for server in "${SERVERS[@]}"; do
    user="${login[$server]%%,*}" password="${login[$server]#*,}"
    ours=("$CLI" --quiet --passive --port "${port[$server]}" --user "$user" --password "$password")
    settings="$lftp_common; $lftp_tls"
    if [[ "$server" == vsftpd ]]; then
      ours+=(--tls off)
      settings="$lftp_common; $lftp_clear"
    else
      ours+=(--tls require --trust-fingerprint "$fingerprint")
    fi
    ours+=(127.0.0.1)
    lftp_login=(-u "${login[$server]}" -p "${port[$server]}" 127.0.0.1)
    timed "$server" download ours "${ours[@]}" get -r tree "$work/copies/ours"
    same "$work/copies/ours"
    timed "$server" download lftp lftp -e "$settings; mirror tree '$work/copies/lftp'; quit" "${lftp_login[@]}"
    same "$work/copies/lftp"
    timed "$server" upload ours "${ours[@]}" put -r "$root/tree" "upload/ours"
    same "$root/upload/ours"
    timed "$server" upload lftp lftp -e "$settings; mirror -R '$root/tree' upload/lftp; quit" "${lftp_login[@]}"
    same "$root/upload/lftp"
  done
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
echo "Folder benchmark: $FILES files of 1 to 8 KiB, median of $RUNS, on loopback, passive"
echo "$(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %-5s %-9s %-5s %10s %9s %10s   %s\n' server link direction tool "median s" "files/s" "ms/file" \
  "all runs (s)"
for server in "${SERVERS[@]}"; do
  link=TLS
  [[ "$server" == vsftpd ]] && link=clear
  for direction in download upload; do
    for tool in ours lftp; do
      # shellcheck disable=SC2086 # the figures are space-separated on purpose
      us="$(median ${times["$server $direction $tool"]})"
      # shellcheck disable=SC2086
      all="$(printf '%s\n' ${times["$server $direction $tool"]} | awk '{ printf "%.3f ", $1 / 1e6 }')"
      awk -v s="$server" -v l="$link" -v d="$direction" -v t="$tool" -v us="$us" -v n="$FILES" -v all="$all" \
        'BEGIN { printf "%-10s %-5s %-9s %-5s %10.3f %9.0f %10.2f   %s\n", s, l, d, t, us / 1e6, n / (us / 1e6), us / 1e3 / n, all }'
    done
  done
done
for server in "${SERVERS[@]}"; do
  for direction in download upload; do
    printf '%-10s %-9s ours/lftp %s\n' "$server" "$direction" "$(paired "$server $direction")"
  done
done
echo "All $((RUNS * 4 * ${#SERVERS[@]})) copies identical to the source."
