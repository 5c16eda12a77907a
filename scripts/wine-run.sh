#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest. A test program
# (GoogleTest) writes to stdout before any test can fail, so one that failed
# without a byte there never started (Wine could not create its process): it
# is started once more. Whatever a program that ran returns stands.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for attempt in 1 2; do
  wine "$@" | tee "$out"
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ "$attempt" -eq 2 ]; then exit "$status"; fi
  echo "wine-run: $1 wrote nothing and exited with $status; starting it once more" >&2
done
