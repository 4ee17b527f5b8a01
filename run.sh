#!/usr/bin/env bash
# Installs what is missing, builds Corvessa and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
exec build/Recorder/corvessa "$@"
