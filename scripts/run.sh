#!/bin/sh
# Installs what is missing, builds, and starts the viewer with a simulated
# camera on 127.0.0.1:8080, which stops when the viewer exits.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target monitor camsim

build/camsim --listen 127.0.0.1 --port 8080 &
camera=$!
trap 'kill $camera 2>/dev/null || true' EXIT INT TERM

echo "Type 127.0.0.1 into the address field and press 连接."
build/monitor
