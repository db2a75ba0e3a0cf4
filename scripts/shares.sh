#!/usr/bin/env bash
# Serves a directory through two real network file systems on the loopback address and runs
# a command while both are mounted:
#
#   - a Samba server (smbd, a read-only guest share) mounted with the FUSE SMB client smbnetfs;
#   - an SFTP server (sshd, a throwaway host key and client key) mounted with sshfs.
#
#   scripts/shares.sh DIR COMMAND [ARG...]
#
# The command runs with these variables set:
#
#   HALVARD_SHARE_LOCAL         DIR as an absolute path
#   HALVARD_SHARE_SMBNETFS      where DIR is seen through smbnetfs, empty when not mounted
#   HALVARD_SHARE_SMBNETFS_WHY  then one line saying why
#   HALVARD_SHARE_SSHFS         where DIR is seen through sshfs, empty when not mounted
#   HALVARD_SHARE_SSHFS_WHY     then one line saying why
#
# HALVARD_SHARE_SSHFS_OPTIONS, when set, adds sshfs mount options (e.g. cache=no).
#
# Whether a server starts and a client mounts is found by trying: a mount counts when it lists
# what DIR holds. The script ends with the command's exit status; whatever it started (servers,
# FUSE clients, mounts, its temporary directory) is stopped and removed when it ends, also when
# the command fails or the script is interrupted. Both servers listen on 127.0.0.1 only, on
# free ports, with configurations of their own; nothing of the system's is changed (but for
# /run/sshd, made when missing, as sshd's service would). The shares are read-only. Run as
# root (CI does): sshfs logs in as the calling user.
set -uo pipefail

if [ $# -lt 2 ] || [ ! -d "$1" ]; then
    echo "usage: scripts/shares.sh DIR COMMAND [ARG...]" >&2
    exit 2
fi
local_dir=$(cd "$1" && pwd -P)
shift

work=$(mktemp -d "${TMPDIR:-/tmp}/halvard-shares.XXXXXX") || exit 1
chmod 755 "$work"
pids=()
mounts=()

# Unmounts (lazily when still busy), then stops every process this script started.
cleanup() {
    local mount pid
    for mount in "${mounts[@]}"; do
        mountpoint -q "$mount" || continue
        timeout 10 fusermount3 -u "$mount" 2>/dev/null ||
            timeout 10 fusermount -u "$mount" 2>/dev/null ||
            timeout 10 fusermount3 -uz "$mount" 2>/dev/null ||
            timeout 10 fusermount -uz "$mount" 2>/dev/null ||
            echo "shares: could not unmount $mount" >&2
    done
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -9 "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0));
print(s.getsockname()[1])'
}

# Waits up to 10 s for a server (process $1) to accept connections on 127.0.0.1:$2.
wait_for_port() {
    local pid=$1 port=$2 i
    for i in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || return 1
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# The last non-empty line of a log, for a skip's reason.
last_line() {
    sed -n '/[^[:space:]]/h; ${x;p}' "$1" 2>/dev/null | cut -c1-200
}

# Waits up to 20 s for the FUSE client (process $1) to mount $2 and for $3 to list what the
# local directory lists.
wait_for_mount() {
    local pid=$1 mount=$2 seen=$3 want i
    want=$(ls -A "$local_dir")
    for i in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || return 1
        if mountpoint -q "$mount" && [ "$(timeout 10 ls -A "$seen" 2>/dev/null)" = "$want" ]; then
            return 0
        fi
        sleep 0.2
    done
    return 1
}

# Samba: smbd with every path of its own below $work/samba, one guest share of the local
# directory; smbnetfs reaches it through a link in its mount, "share" -> 127.0.0.1:PORT/halvard.
start_smbnetfs() {
    local dir=$work/samba port pid
    command -v smbd >/dev/null || { why="smbd is not installed"; return 1; }
    command -v smbnetfs >/dev/null || { why="smbnetfs is not installed"; return 1; }
    mkdir -p "$dir"/{private,lock,state,cache,pid,ncalrpc} "$dir/home/.smb" "$work/smbnetfs"
    port=$(free_port)
    # The share is case-sensitive like the local disk: a case-insensitive server would open
    # drvset.ini as DrvSet.ini, and the tool would rightly report the name it opened.
    cat >"$dir/smb.conf" <<EOF
[global]
    server role = standalone server
    interfaces = 127.0.0.1/8
    bind interfaces only = yes
    smb ports = $port
    disable netbios = yes
    map to guest = Bad User
    private dir = $dir/private
    lock directory = $dir/lock
    state directory = $dir/state
    cache directory = $dir/cache
    pid directory = $dir/pid
    ncalrpc dir = $dir/ncalrpc
    log file = $dir/smbd.log
    load printers = no
    printing = bsd
    printcap name = /dev/null
    disable spoolss = yes
[halvard]
    path = $local_dir
    read only = yes
    guest ok = yes
    guest only = yes
    force user = $(id -un)
    case sensitive = yes
EOF
    smbd --foreground --debug-stdout -s "$dir/smb.conf" \
        >"$dir/smbd.out" 2>&1 </dev/null &
    pid=$!
    pids+=("$pid")
    if ! wait_for_port "$pid" "$port"; then
        why="smbd did not start: $(last_line "$dir/smbd.out")"
        return 1
    fi
    cat >"$dir/home/.smb/smbnetfs.conf" <<EOF
smb_query_browsers "false"
use_libsecret "false"
link "share" "127.0.0.1:$port/halvard"
EOF
    chmod 600 "$dir/home/.smb/smbnetfs.conf"
    HOME=$dir/home smbnetfs "$work/smbnetfs" -f -o ro >"$dir/smbnetfs.out" 2>&1 </dev/null &
    pid=$!
    pids+=("$pid")
    mounts+=("$work/smbnetfs")
    if ! wait_for_mount "$pid" "$work/smbnetfs" "$work/smbnetfs/share"; then
        why="smbnetfs did not mount the share: $(last_line "$dir/smbnetfs.out")"
        return 1
    fi
    HALVARD_SHARE_SMBNETFS=$work/smbnetfs/share
}

# SFTP: sshd on a free port with a throwaway host key, accepting one throwaway client key
# (its authorized_keys file given by AuthorizedKeysFile), and sshfs with that key.
start_sshfs() {
    local dir=$work/ssh port pid user options
    [ -x /usr/sbin/sshd ] || { why="sshd is not installed"; return 1; }
    command -v sshfs >/dev/null || { why="sshfs is not installed"; return 1; }
    mkdir -p "$dir" "$work/sshfs"
    ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key" </dev/null &&
        ssh-keygen -q -t ed25519 -N '' -f "$dir/client_key" </dev/null ||
        { why="ssh-keygen failed"; return 1; }
    cp "$dir/client_key.pub" "$dir/authorized_keys"
    port=$(free_port)
    user=$(id -un)
    cat >"$dir/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/host_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
AllowUsers $user
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
LogLevel ERROR
EOF
    # sshd wants its privilege separation directory, which its service would make.
    [ "$(id -u)" -eq 0 ] && mkdir -p /run/sshd
    /usr/sbin/sshd -D -e -f "$dir/sshd_config" >"$dir/sshd.out" 2>&1 </dev/null &
    pid=$!
    pids+=("$pid")
    if ! wait_for_port "$pid" "$port"; then
        why="sshd did not start: $(last_line "$dir/sshd.out")"
        return 1
    fi
    # no_contain_symlinks: this sshfs refuses links whose target holds "..", which the local
    # disk follows; the server is our own. An older sshfs without the option follows them.
    options=ro,IdentityFile=$dir/client_key,StrictHostKeyChecking=no
    options+=,UserKnownHostsFile=/dev/null,BatchMode=yes,ConnectTimeout=10,LogLevel=ERROR
    grep -q no_contain_symlinks <<<"$(sshfs -h 2>&1)" && options+=,no_contain_symlinks
    [ -n "${HALVARD_SHARE_SSHFS_OPTIONS:-}" ] && options+=,$HALVARD_SHARE_SSHFS_OPTIONS
    sshfs -f -F /dev/null -p "$port" -o "$options" "$user@127.0.0.1:$local_dir" \
        "$work/sshfs" >"$dir/sshfs.out" 2>&1 </dev/null &
    pid=$!
    pids+=("$pid")
    mounts+=("$work/sshfs")
    if ! wait_for_mount "$pid" "$work/sshfs" "$work/sshfs"; then
        why="sshfs did not mount the share: $(last_line "$dir/sshfs.out")"
        return 1
    fi
    HALVARD_SHARE_SSHFS=$work/sshfs
}

export HALVARD_SHARE_LOCAL=$local_dir
export HALVARD_SHARE_SMBNETFS="" HALVARD_SHARE_SMBNETFS_WHY=""
export HALVARD_SHARE_SSHFS="" HALVARD_SHARE_SSHFS_WHY=""
# Each start function sets the mounted path, or says in $why why there is none.
why=""
start_smbnetfs || HALVARD_SHARE_SMBNETFS_WHY=$why
start_sshfs || HALVARD_SHARE_SSHFS_WHY=$why
"$@"
