#!/usr/bin/env bash
# Checks every C++ file under src/, tests/, tools/, fuzz/ and bench/ against .clang-format without changing
# it; lists each place that differs and exits non-zero if any does. `clang-format -i FILE` fixes a file.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --format
mapfile -d '' files < <(find src tests tools fuzz bench -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.cc' \) -print0 | sort -z)
if ! clang-format --dry-run -Werror "${files[@]}"; then
  echo "check-format.sh: the files above are not formatted as .clang-format says (clang-format -i FILE)" >&2
  exit 1
fi
echo "format: ${#files[@]} files checked, all formatted"
