#!/usr/bin/env bash
# Real volumes and shares for the tests, mounted through FUSE. Each process
# started here runs in the foreground of its own, its id printed (and kept in
# the scratch folder), and is stopped by that id only. The verbs are at the
# end; mount makes IMAGE (64 MiB, sparse) unless it exists. A FAT volume
# keeps local time in the driver's TZ. Exit 2: a tool or /dev/fuse is
# missing; exit 1: the mount or server failed (its log is printed).
set -uo pipefail

die() {  # die CODE MESSAGE
  echo "volume.sh: $2" >&2
  exit "$1"
}
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] || die 2 "$tool is not installed"
  done
}
need_fuse() {
  [ -c /dev/fuse ] || die 2 "/dev/fuse is missing"
  [ -r /dev/fuse ] && [ -w /dev/fuse ] || die 2 "/dev/fuse is not usable by $(id -un)"
  need fusermount3
}

# A process that ended but was not reaped (its parent, the shell that
# started it, is gone) counts as gone.
alive() { [ -r "/proc/$1/status" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }

mounted() { awk -v p="$1" '$5 == p { found = 1 } END { exit !found }' /proc/self/mountinfo; }

# wait_mounted DIR PID LOG: up to 10 s for DIR to be a mount of PID; else
# the log is shown, PID ended and 1 returned.
wait_mounted() {
  local i
  for i in $(seq 100); do
    if mounted "$1" && ls "$1" >/dev/null 2>&1; then return 0; fi
    if ! alive "$2"; then break; fi
    sleep 0.1
  done
  cat "$3" >&2
  kill -KILL "$2" 2>/dev/null
  mounted "$1" && umount -l "$1"
  echo "volume.sh: mounting $1 failed" >&2
  return 1
}

# end_pid PID: asks PID to end, and ends it after 2 s. A FUSE driver whose
# requests hang does not end on TERM.
end_pid() {
  local signal i
  for signal in TERM KILL; do
    alive "$1" || return 0
    kill "-$signal" "$1" 2>/dev/null
    for i in $(seq 20); do
      alive "$1" || return 0
      sleep 0.1
    done
  done
}

unmount_dir() {  # unmount_dir DIR PID
  local dir pid=$2 i
  dir=$(realpath -m "$1")
  if mounted "$dir"; then
    fusermount3 -u -q "$dir" 2>/dev/null || umount "$dir" 2>/dev/null
  fi
  # The driver ends by itself once its mount is gone.
  for i in $(seq 30); do
    alive "$pid" || break
    sleep 0.1
  done
  end_pid "$pid"
  if mounted "$dir"; then fusermount3 -u -q "$dir" 2>/dev/null || umount -l "$dir"; fi
  ! mounted "$dir"
}

mount_volume() {  # mount_volume KIND IMAGE DIR [MIB]
  local kind=$1 image=$2 dir=$3 mib=${4:-64}
  local log pid device
  need_fuse
  case $kind in
    fat32) need mkfs.vfat fusefat ;;
    exfat) need mkfs.exfat mount.exfat-fuse losetup ;;
    ntfs | ntfs-windows) need mkfs.ntfs ntfs-3g ;;
    *) die 1 "unknown kind $kind" ;;
  esac
  dir=$(realpath -m "$dir")
  image=$(realpath -m "$image")
  log=$image.log
  # A driver that was ended leaves its mount behind, answering ENOTCONN.
  if mounted "$dir" && ! ls "$dir" >/dev/null 2>&1; then
    fusermount3 -u -q "$dir" 2>/dev/null || umount -l "$dir"
  fi
  mkdir -p "$dir" "$(dirname "$image")" || die 1 "cannot make $dir"
  if [ ! -e "$image" ]; then
    truncate -s "${mib}M" "$image" || die 1 "cannot make $image"
    case $kind in
      fat32) mkfs.vfat -F 32 "$image" ;;  # fusefat lists a label as a file
      exfat) mkfs.exfat -L LARKSPAN "$image" ;;
      *) mkfs.ntfs -F -Q -L LARKSPAN "$image" ;;
    esac >"$log" 2>&1 || { cat "$log" >&2; die 1 "cannot format $image"; }
  fi
  case $kind in
    fat32)
      setsid fusefat -f -o rw+ "$image" "$dir" >"$log" 2>&1 &
      pid=$!
      ;;
    exfat)
      # As root the driver asks for a block device. The loop device is let go
      # at once: it goes away by itself when the mount lets it go.
      device=$(losetup --find --show "$image") || die 1 "no loop device for $image"
      setsid mount.exfat-fuse -d "$device" "$dir" >"$log" 2>&1 &
      pid=$!
      ;;
    *)
      local options=no_detach
      [ "$kind" = ntfs-windows ] && options=$options,windows_names
      setsid ntfs-3g -o "$options" "$image" "$dir" >"$log" 2>&1 &
      pid=$!
      ;;
  esac
  local ok=0
  wait_mounted "$dir" "$pid" "$log" || ok=1
  [ -n "${device:-}" ] && losetup -d "$device"
  [ "$ok" -eq 0 ] || exit 1
  echo "pid=$pid"
}

# The Samba server's scratch configuration: loopback only, its state in the
# scratch folder, the share open to guests as root.
write_smb_conf() {  # write_smb_conf SCRATCH PORT
  local s=$1
  mkdir -p "$s/share" "$s/samba/private" "$s/samba/lock" "$s/samba/state" "$s/samba/cache" \
    "$s/samba/pid" "$s/samba/log" "$s/mnt" "$s/home/.smb"
  cat >"$s/smb.conf" <<EOF
[global]
  bind interfaces only = yes
  interfaces = lo 127.0.0.1
  smb ports = $2
  disable netbios = yes
  pid directory = $s/samba/pid
  lock directory = $s/samba/lock
  state directory = $s/samba/state
  cache directory = $s/samba/cache
  private dir = $s/samba/private
  log file = $s/samba/log/%m.log
  map to guest = Bad User
  guest account = root
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  server min protocol = SMB2
[share]
  path = $s/share
  read only = no
  guest ok = yes
  force user = root
EOF
}

start_smbd() {  # start_smbd SCRATCH
  local s=$1 pid i port
  port=$(cat "$s/port")
  setsid smbd --foreground --no-process-group --debug-stdout -s "$s/smb.conf" >>"$s/smbd.log" 2>&1 &
  pid=$!
  echo "$pid" >"$s/smbd.pid"
  for i in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "smbd_pid=$pid"
      return 0
    fi
    alive "$pid" || break
    sleep 0.1
  done
  tail -20 "$s/smbd.log" >&2
  end_pid "$pid"
  die 1 "the Samba server did not start"
}

share_start() {  # share_start SCRATCH [PORT]
  local s=$1 port=${2:-4450} pid i
  need_fuse
  need smbd smbnetfs
  mkdir -p "$s" || die 1 "cannot make $s"
  s=$(cd "$s" && pwd)
  echo "$port" >"$s/port"
  write_smb_conf "$s" "$port"
  start_smbd "$s"
  # smbnetfs reads its configuration from $HOME/.smb; guests need no
  # password. Its SMB library does not reach a port other than 445 by "smb
  # ports" alone: the host is named 127.0.0.1:PORT too.
  cat >"$s/home/.smb/smb.conf" <<EOF
[global]
  client min protocol = SMB2
  smb ports = $port
  disable netbios = yes
  name resolve order = host
EOF
  cat >"$s/home/.smb/smbnetfs.conf" <<EOF
smb_query_browsers "false"
show_hidden_hosts "true"
auth "guest" ""
host 127.0.0.1 visible=true
EOF
  chmod 600 "$s/home/.smb/smbnetfs.conf" "$s/home/.smb/smb.conf"
  HOME=$s/home setsid smbnetfs "$s/mnt" -f -o smbnetfs_debug=0 >"$s/smbnetfs.log" 2>&1 &
  pid=$!
  echo "$pid" >"$s/smbnetfs.pid"
  wait_mounted "$s/mnt" "$pid" "$s/smbnetfs.log" || { server_stop "$s"; exit 1; }
  local host=127.0.0.1
  [ "$port" = 445 ] || host=127.0.0.1:$port
  # The share answers once the client has reached the server.
  for i in $(seq 100); do
    if ls "$s/mnt/$host/share" >/dev/null 2>&1; then
      echo "smbnetfs_pid=$pid"
      echo "path=$s/mnt/$host/share"
      return 0
    fi
    sleep 0.1
  done
  tail -20 "$s/smbnetfs.log" >&2
  share_stop "$s"
  die 1 "the share did not answer through smbnetfs"
}

server_stop() {  # server_stop SCRATCH
  [ -f "$1/smbd.pid" ] || return 0
  end_pid "$(cat "$1/smbd.pid")"
  rm -f "$1/smbd.pid"
}

share_stop() {  # share_stop SCRATCH
  local s=$1
  [ -f "$s/smbnetfs.pid" ] && unmount_dir "$s/mnt" "$(cat "$s/smbnetfs.pid")" && rm -f "$s/smbnetfs.pid"
  server_stop "$s"
}

verb=${1:-}
shift || true
case $verb in
  mount) [ $# -ge 3 ] || die 1 "mount KIND IMAGE DIR [MIB]"; mount_volume "$@" ;;
  unmount) [ $# -eq 2 ] || die 1 "unmount DIR PID"; unmount_dir "$@" ;;
  share-start) [ $# -ge 1 ] || die 1 "share-start SCRATCH [PORT]"; share_start "$@" ;;
  server-stop) [ $# -eq 1 ] || die 1 "server-stop SCRATCH"; server_stop "$1" ;;
  server-start) [ $# -eq 1 ] || die 1 "server-start SCRATCH"; start_smbd "$(cd "$1" && pwd)" ;;
  share-stop) [ $# -eq 1 ] || die 1 "share-stop SCRATCH"; share_stop "$1" ;;
  *) die 1 "usage: volume.sh mount|unmount|share-start|server-stop|server-start|share-stop ..." ;;
esac
