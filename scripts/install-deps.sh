#!/usr/bin/env bash
# Installs every Debian package that building, testing and the demo need.
# Does nothing when all of them are present; uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev qt6-qpa-plugins qt6-svg-dev libgl-dev libssl-dev
  xvfb xauth fonts-dejavu-core
  libgtest-dev libgmock-dev libcli11-dev
  python3 python3-pyftpdlib python3-openssl openssl vsftpd
  desktop-file-utils xdg-utils libfile-mimeinfo-perl shared-mime-info man-db dpkg-dev
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(lftp rclone)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
# The vsftpd package starts a system-wide daemon on port 21; the tests run their
# own instances on free ports and need nothing listening there.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet vsftpd 2>/dev/null; then
  $sudo systemctl stop vsftpd || true
fi
