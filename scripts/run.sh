#!/bin/sh
# Installs what is missing, builds, and starts the viewer with a simulated
# camera on 127.0.0.1:8080, which stops when the viewer exits. Recordings land
# in the directory this is run from.
set -eu
project=$(cd "$(dirname "$0")/.." && pwd)

"$project/scripts/install-deps.sh"
cmake -S "$project" -B "$project/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$project/build" --target monitor camsim

"$project/build/camsim" --listen 127.0.0.1 --port 8080 &
camera=$!
trap 'kill $camera 2>/dev/null || true' EXIT INT TERM

echo "Type 127.0.0.1 into the address field and press 连接."
"$project/build/monitor"
