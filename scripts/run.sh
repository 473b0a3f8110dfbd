#!/usr/bin/env bash
# Installs what is needed, builds everything and starts the client.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh"
bash "$top/scripts/build.sh" "$top/build"
if [ -x "$top/build/bin/marrowby" ]; then
  exec "$top/build/bin/marrowby" "$@"
fi
echo "Built. The client's main window is not built yet, so there is nothing to start."
echo "The stand-in central server can be tried: $top/build/bin/marrowby-server --port 2242"
