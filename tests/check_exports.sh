#!/usr/bin/env bash
# The shared library exports exactly the functions of the export table.
set -euo pipefail
library=$1
table=$2
expected=$(grep -E '^[[:space:]]+[A-Za-z_]+[[:space:]]+@[0-9]+' "$table" | awk '{print $1}' | sort)
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [[ "$expected" != "$actual" ]]; then
  echo "exports differ from $table:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports match: $(echo "$actual" | tr '\n' ' ')"
