#!/usr/bin/env bash
# The library exports exactly the functions of the export table: on Linux by
# name; on Windows by name and ordinal, and the DLL imports nothing but the
# system's own DLLs.
set -euo pipefail
library=$1
table=$2
entries=$(grep -E '^[[:space:]]+[A-Za-z_]+[[:space:]]+@[0-9]+' "$table")

compare() {
  local what=$1 expected=$2 actual=$3
  if [[ "$expected" != "$actual" ]]; then
    echo "$what differ from $table:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
  fi
}

if [[ $library != *.dll ]]; then
  expected=$(awk '{print $1}' <<<"$entries" | sort)
  actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
  compare exports "$expected" "$actual"
  echo "exports match: $(echo "$actual" | tr '\n' ' ')"
  exit 0
fi

dump=$(x86_64-w64-mingw32-objdump -p "$library")
# "[Ordinal/Name Pointer] Table" lines: "[   0] Korvane_ActivatePath", the
# ordinal less the table's ordinal base.
expected=$(awk '{sub("@", "", $2); print $2, $1}' <<<"$entries" | sort -n)
actual=$(awk '/Ordinal Base/ {base = $NF}
              /\[Ordinal\/Name Pointer\] Table/ {table = 1; next}
              table && /^[[:space:]]*\[ *[0-9]+\]/ {gsub(/[][]/, " "); print $1 + base, $2; next}
              table {table = 0}' <<<"$dump" | sort -n)
compare "exports (ordinal and name)" "$expected" "$actual"
addresses=$(awk '/^Export Address Table/ {table = 1; next}
                 table && /^[[:space:]]*\[ *[0-9]+\]/ {count++; next}
                 table {table = 0} END {print count + 0}' <<<"$dump")
[[ $addresses -eq $(wc -l <<<"$expected") ]] || { echo "the DLL has $addresses exported addresses"; exit 1; }

system_dlls='^(kernel32|advapi32|user32|gdi32|shell32|ole32|oleaut32|shlwapi|msvcrt|ws2_32|rpcrt4|mswsock|crypt32|version|psapi|secur32|bcrypt|comctl32|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump" | sort -u)
foreign=$(grep -Ev "$system_dlls" <<<"$imports" || true)
[[ -z $foreign ]] || { echo "the DLL imports more than the system's DLLs: $foreign"; exit 1; }
echo "exports match by ordinal: $(echo "$actual" | tr '\n' ' ')"
echo "imports: $(echo "$imports" | tr '\n' ' ')"
