#!/usr/bin/env bash
# Installs the Debian packages Roadloom builds, runs and tests with; does nothing when all are present.
set -euo pipefail

PACKAGES=(
    g++ cmake ninja-build pkg-config make
    qt6-base-dev qt6-svg-dev libgl-dev libqt6opengl6-dev
    libmpv-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
    ffmpeg mpv
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth fonts-dejavu-core locales openbox xdotool imagemagick
    libimage-exiftool-perl gpsbabel libxml2-utils poppler-utils
    clang libclang-rt-14-dev lld
    bootstrap-icons desktop-file-utils dbus
    fuse3 python3-fusepy
)

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
    SUDO=(sudo)
fi

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${SUDO[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Number-format tests run under a German locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    echo "Generating the de_DE.UTF-8 locale"
    "${SUDO[@]}" sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | "${SUDO[@]}" tee -a /etc/locale.gen >/dev/null
    "${SUDO[@]}" locale-gen >/dev/null
fi
