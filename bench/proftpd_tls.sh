# Sourced by the benchmarks, after vsftpd_anonymous.sh: a private proftpd that requires
# TLS, unpacked by `scripts/install-deps.sh --bench` into $BUILD_DIR/servers/proftpd and run
# as the launching user from a configuration in DIR. Its one user, "bench" with the password
# "x", is virtual (a password file in DIR) and has ROOT as its home; no system account is
# made or needed.
#
#   proftpd_tls_start DIR ROOT PORT CERT KEY   listens on 127.0.0.1:PORT; exits when it cannot
proftpd_tls_start() {
  local dir="$1" root="$2" port="$3" cert="$4" key="$5"
  local home="$BUILD_DIR/servers/proftpd"
  home="$(cd "$home" && pwd)"
  printf 'bench:%s:%s:%s::%s:/bin/false\n' "$(openssl passwd -5 x)" "$(id -u)" "$(id -g)" "$root" >"$dir/passwd"
  chmod 0600 "$dir/passwd"
  cat >"$dir/proftpd.conf" <<CONF
ServerType standalone
ServerName "bench"
DefaultAddress 127.0.0.1
SocketBindTight on
UseIPv6 off
Port $port
User $(id -un)
Group $(id -gn)
RootLogin on
PidFile $dir/proftpd.pid
ScoreboardFile $dir/proftpd.scoreboard
DelayTable none
WtmpLog off
UseReverseDNS off
SystemLog $dir/proftpd.system.log
TransferLog none
ModulePath $home/usr/lib/proftpd
LoadModule mod_tls.c
AuthOrder mod_auth_file.c
AuthUserFile $dir/passwd
RequireValidShell off
AllowOverwrite on
MaxInstances 8
TLSEngine on
TLSRequired on
TLSProtocol TLSv1.2 TLSv1.3
TLSRSACertificateFile $cert
TLSRSACertificateKeyFile $key
TLSVerifyClient off
# Not every client resumes the control connection's session on its data connections.
TLSOptions NoSessionReuseRequired
CONF
  bench_serve proftpd "$dir/proftpd.log" 127.0.0.1 "$port" "$home/usr/sbin/proftpd" --nodaemon -c "$dir/proftpd.conf"
}
