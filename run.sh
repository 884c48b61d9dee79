#!/usr/bin/env bash
# Installs what is missing, builds the Release program and starts it:
#   ./run.sh [file]
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target orvanta
exec ./build/orvanta "$@"
