#!/usr/bin/env bash
# Runs every function of the matching ctest tests alone, each with a fresh HOME
# (a test function must not need what an earlier one left behind); prints one
# line per function and the first failure lines of those that fail.
# Usage: scripts/tests-alone.sh build 'pages_|^app\.'
build=$1; re=$2
cd "$build"
ctest --show-only=json-v1 -R "$re" | python3 -c '
import json,sys
d=json.load(sys.stdin)
for t in d["tests"]:
    env=[]; wd="."
    for p in t.get("properties",[]):
        if p["name"]=="ENVIRONMENT": env=p["value"]
        if p["name"]=="WORKING_DIRECTORY": wd=p["value"]
    print(t["name"], t["command"][0], wd, " ".join(env))
' | while read -r name cmd wd env; do
  for f in $(env $env "$cmd" -functions 2>/dev/null | sed 's/()//'); do
    case $f in initTestCase|cleanupTestCase|init|cleanup) continue;; esac
    home=$(mktemp -d)
    out=$(cd "$wd" && env $env HOME="$home" timeout 600 "$cmd" "$f" 2>&1)
    rc=$?
    if [ $rc -ne 0 ]; then echo "FAIL $name $f rc=$rc"; echo "$out" | grep -E 'FAIL!|Loc:' | head -4; else echo "ok   $name $f"; fi
    rm -rf "$home"
  done
done
