#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it with the tree's
# .clang-format; prints the files. `--fix` rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh clang-format

mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
differ=0
for f in "${files[@]}"; do
  if ! clang-format "$f" | cmp -s - "$f"; then
    echo "not formatted: $f"
    differ=1
  fi
done
[ "$differ" -eq 0 ] && echo "format: ${#files[@]} files as .clang-format has them"
exit "$differ"
