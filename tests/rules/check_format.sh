#!/usr/bin/env bash
# Every C++ source of the project is formatted with the project's .clang-format.
set -uo pipefail
root="$1"
cd "$root" || exit 1
command -v clang-format >/dev/null || { echo "clang-format is missing"; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find app cli engine model platform tests ui bench -name '*.cpp' -o -name '*.h')
clang-format --dry-run --Werror "${files[@]}"
