#!/usr/bin/env bash
# From a fresh Debian 12 machine to a running example: installs what is missing, builds, and runs the
# built-in demo, which writes demo.avi and demo.png into DIR (default: out/demo).
# Usage: scripts/demo.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target rq43_cli
dir=${1:-out/demo}
build/rq43 demo "$dir"
