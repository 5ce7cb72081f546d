#!/usr/bin/env bash
# Installs the Debian packages Zelo needs to build, test and run, when any is missing.
# Works as root or as a user with sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libgtest-dev googletest clang-format
  libicu-dev libattr1-dev libsmbclient-dev
  dos2unix time
  xvfb xauth xdotool x11-apps x11-utils imagemagick openbox xclip
  qt6-translations-l10n
  fonts-ipafont fonts-ipafont-gothic fonts-ipafont-mincho
  rsync
  desktop-file-utils appstream man-db dpkg-dev file lintian bash-completion inotify-tools
  exfat-fuse exfatprogs fusefat dosfstools
  samba gvfs-backends gvfs-fuse dbus libglib2.0-bin attr
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  echo "Missing packages (${missing[*]}) and neither root nor sudo is available." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
