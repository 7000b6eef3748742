#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine. Quick
# when everything is present: apt-get runs only when something is missing.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
want() {  # want PACKAGE CHECK...
  local package=$1
  shift
  if ! "$@" >/dev/null 2>&1; then need+=("$package"); fi
}

want cmake have_cmd cmake
want ninja-build have_cmd ninja
want g++ have_cmd g++
want make have_cmd make
want pkg-config have_cmd pkg-config
want g++-mingw-w64-x86-64-posix have_cmd x86_64-w64-mingw32-g++-posix
want g++-mingw-w64-i686-posix have_cmd i686-w64-mingw32-g++-posix
want binutils-mingw-w64-i686 have_cmd i686-w64-mingw32-objdump
want wine64 have_cmd wineboot
want wine have_cmd wine
want xvfb have_cmd Xvfb
want xauth have_cmd xauth
want xdotool have_cmd xdotool
want googletest test -f /usr/src/googletest/CMakeLists.txt
want libglib2.0-dev pkg-config --exists gio-2.0
want rsync have_cmd rsync
want time have_cmd /usr/bin/time
want util-linux have_cmd flock
want systemd have_cmd systemd-analyze  # checks the schedule units of contrib/
# Real volumes and shares for the volume tests: image files mounted through FUSE,
# a Samba server and an sshd on 127.0.0.1.
want fuse3 have_cmd fusermount3
want dosfstools have_cmd mkfs.vfat
want fusefat have_cmd fusefat
want exfatprogs have_cmd mkfs.exfat
want exfat-fuse have_cmd mount.exfat-fuse
want ntfs-3g have_cmd ntfs-3g
want samba test -x /usr/sbin/smbd
want smbnetfs have_cmd smbnetfs
want sshfs have_cmd sshfs
want openssh-server test -x /usr/sbin/sshd
want openssh-client have_cmd ssh-keygen

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
