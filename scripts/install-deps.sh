#!/bin/sh
# Installs the Debian packages that building, running and testing need.
# Idempotent: packages already present are not touched.
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
qt6-base-dev libgl-dev libopencv-dev libturbojpeg0-dev
xvfb xauth xdotool x11-utils ffmpeg fonts-wqy-microhei"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing
fi
