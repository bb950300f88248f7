#!/usr/bin/env bash
# The module exports its three entry points and nothing else of its own.
set -euo pipefail
exports=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
expected="orreryAPI orreryEntry orreryExit "
if [ "$exports" != "$expected" ]; then
  echo "exported: $exports"
  echo "expected: $expected"
  exit 1
fi
echo "exports: $exports"
