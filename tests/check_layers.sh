#!/usr/bin/env bash
# No file under src/ includes a header of a layer above its own, whether by
# its layer path ("shell/x.h") or by a relative path ("../shell/x.h"). The
# build refuses the first kind already; this also catches the second.
#   check_layers.sh SOURCE_DIR
set -euo pipefail
cd "$1/src"
layers=(platform text runtime protocol svn link shell api)
failures=0
for ((own = 0; own < ${#layers[@]}; own++)); do
  for ((above = own + 1; above < ${#layers[@]}; above++)); do
    while IFS= read -r hit; do
      echo "upward include: $hit"
      failures=$((failures + 1))
    done < <(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"(\.\./)*${layers[above]}/" "${layers[own]}" || true)
  done
done
((failures == 0)) || exit 1
echo "every include under src/ stays within its layer or below"
