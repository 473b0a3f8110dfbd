#!/usr/bin/env bash
# Installs what is needed (the tests' own packages too), builds everything
# and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh" --tests
bash "$top/scripts/build.sh" "$top/build"
cd "$top/build"
# A failing test is run once more (the tests run real processes and sockets,
# and a loaded machine can slip a timing); its first failure stays in the output,
# and the tests that needed the retry are named before the summary.
bash "$top/scripts/ctest.sh" --output-on-failure --parallel "$(nproc)" --timeout 900 --repeat until-pass:2
