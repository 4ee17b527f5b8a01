#!/usr/bin/env bash
# Installs what is missing, checks the layers, builds Corvessa and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/check-layers.sh
scripts/build.sh
scripts/check-layers.sh build
cd build
ctest --output-on-failure --parallel "$(nproc)" "$@"
