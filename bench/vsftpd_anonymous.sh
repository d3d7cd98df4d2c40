# Sourced by the benchmarks: the vsftpd configuration they share. Anonymous reads ROOT and
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
