#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Restovo needs.
# Idempotent: packages already present are skipped, and the package lists are only
# refreshed when something has to be installed.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libblkid-dev libudev-dev
  # the window
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins qt6-qpa-plugins
  libgl-dev libxcb1-dev xvfb xauth fonts-dejavu-core fonts-wqy-microhei
  # online services: the reference server and the embedded browser of the news window
  qt6-httpserver-dev qt6-websockets-dev qt6-webengine-dev
  # fixtures and reference tools
  dosfstools mtools ntfs-3g fuse3 fdisk xz-utils sleuthkit
  forensics-samples-vfat forensics-samples-ntfs forensics-samples-multiple
  forensics-samples-files
  exfatprogs attr python3 python3-pil
  # real media files and archives for the content parsers' samples
  libheif-examples gstreamer1.0-tools gstreamer1.0-plugins-good lame flac vorbis-tools p7zip-full
  libgsf-bin msitools enscript
  # benchmarks
  time
  # the Debian package and the checks of what it installs
  dpkg-dev fakeroot librsvg2-bin desktop-file-utils groff-base man-db libxml2-utils
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
