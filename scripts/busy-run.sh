#!/usr/bin/env bash
# Runs the tests of a build folder several times in a row on a machine made
# busy on purpose: every core kept working and a few thousand loopback
# connections held open (outgoing connections then hold many local ports), as
# on a developer's machine or a shared CI host. A test that needs luck from the
# system (a free port, a quick turn) shows here.
# Usage: scripts/busy-run.sh build-asan [runs=3] [connections=3000]
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-3}
connections=${3:-3000}
pids=()
stop() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap stop EXIT

for _ in $(seq "$(nproc)"); do
  nice -n 5 sh -c 'while :; do :; done' &
  pids+=($!)
done
python3 - "$connections" <<'PY' &
import resource, socket, sys, time
n = int(sys.argv[1])
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(soft, 2 * n + 64)), hard))
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(n)
held = []
for _ in range(n):
    c = socket.create_connection(server.getsockname())
    held.append(c)
    held.append(server.accept()[0])
print(f"holding {n} loopback connections", flush=True)
while True:
    time.sleep(60)
PY
pids+=($!)
sleep 5

cd "$build"
failed=0
for run in $(seq "$runs"); do
  echo "== run $run of $runs, load $(cut -d' ' -f1 /proc/loadavg)"
  start=$(date +%s)
  if ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure --parallel "$(nproc)" --timeout 900; then
    echo "== run $run passed in $(( $(date +%s) - start )) s"
  else
    echo "== run $run FAILED after $(( $(date +%s) - start )) s"
    failed=1
  fi
done
exit $failed
