#!/usr/bin/env bash
# The module exports its three entry points and nothing else of its own, and
# reads no environment variable (the comparisons build alone does).
set -euo pipefail
exports=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
expected="orreryAPI orreryEntry orreryExit "
if [ "$exports" != "$expected" ]; then
  echo "exported: $exports"
  echo "expected: $expected"
  exit 1
fi
echo "exports: $exports"
if nm -D --undefined-only "$1" | awk '{print $2}' | grep -q -E '^(secure_)?getenv(@|$)'; then
  echo "the module calls getenv"
  exit 1
fi
echo "no getenv"
