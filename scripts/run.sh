#!/usr/bin/env bash
# Installs what is missing, builds the client and starts it. Arguments go to
# the client, e.g.: ./scripts/run.sh --host 192.168.1.50 --token SESSION_TOKEN
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh release
exec ./build/nubora-launcher "$@"
