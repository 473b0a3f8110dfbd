#!/usr/bin/env bash
# Runs ctest with the arguments given, in the current folder, and exits with
# its status. With a retry (--repeat until-pass:2) a test that failed once and
# then passed counts as passed: such tests are named, after every test has
# run and just before ctest's closing summary, so a flaky test is seen.
# ctest's own lines are left as they are, its summary the last of them.
set -euo pipefail
ctest "$@" | awk '
function flush(  n, k) {
  if (done)
    return
  done = 1
  n = 0
  for (k = 1; k <= count; ++k)
    if (passed[order[k]])
      ++n
  if (n == 0)
    return
  print "Tests that failed and passed on their retry (flaky):"
  for (k = 1; k <= count; ++k)
    if (passed[order[k]])
      print "  " name[order[k]]
  print ""
}
# "1/97 Test #12: peers.messenger ......***Failed  3.2 sec", and the retry
# "     Test #12: peers.messenger ......   Passed  2.9 sec".
/Test +#[0-9]+: / {
  line = $0
  sub(/^.*Test +#/, "", line)
  id = line
  sub(/:.*$/, "", id)
  sub(/^[0-9]+: /, "", line)
  test = line
  sub(/ \.+.*$/, "", test)
  if (line ~ /\.\*\*\*/ && !(id in failed)) {
    failed[id] = 1
    name[id] = test
    order[++count] = id
  } else if (line ~ /\. +Passed/ && (id in failed)) {
    passed[id] = 1
  }
}
/^[0-9]+% tests passed/ { flush() }
{ print; fflush() }
END { flush() }
'
