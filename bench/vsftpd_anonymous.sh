# Sourced by the benchmarks: the private vsftpd they share, its start, its end, and its
# configuration.
#
#   trap bench_cleanup EXIT               stops every vsftpd started, removes $work
#   vsftpd_start CONF HOST PORT           starts $VSFTPD with CONF (its log beside it) and
#                                         waits until HOST:PORT answers; exits otherwise
#   bench_serve NAME LOG HOST PORT COMMAND...
#                                         starts any server the same way (stopped by the trap)
#
# The configuration: anonymous reads ROOT and
# writes where its folders let it; vsftpd runs as the launching user (no chroot, no account
# switch, no sandbox), so it needs no system account with a home directory: ftp_username
# only has to exist.
#
#   vsftpd_anonymous_conf ROOT EMPTY_DIR   (after the listen lines, before any others)
vsftpd_anonymous_conf() {
  cat <<CONF
background=NO
run_as_launching_user=YES
ftp_username=nobody
anonymous_enable=YES
anon_root=$1
no_anon_password=YES
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_umask=022
local_enable=NO
port_enable=YES
connect_from_port_20=NO
secure_chroot_dir=$2
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
CONF
}

bench_pids=()
bench_cleanup() {
  local pid
  for pid in "${bench_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    timeout 5 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
  done
  if [[ -n "${work:-}" ]]; then rm -rf "$work"; fi
}

bench_serve() {
  local name="$1" log="$2" host="$3" port="$4" pid
  shift 4
  "$@" >"$log" 2>&1 &
  pid=$!
  bench_pids+=("$pid")
  for _ in $(seq 50); do
    timeout 1 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "bench: $name did not start on $host:$port" >&2
  cat "$log" >&2
  exit 1
}

vsftpd_start() {
  bench_serve vsftpd "${1%.conf}.log" "$2" "$3" "$VSFTPD" "$1"
}
