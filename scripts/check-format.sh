#!/bin/sh
# Checks, without changing anything, that every C++ file of the repository is formatted as
# the committed .clang-format says (clang-format in dry-run mode, differences are errors).
# Lists the files that differ and fails when there is one; `make format` fixes them.
set -u
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then
    echo "check-format: clang-format is not installed (scripts/bootstrap.sh installs it)" >&2
    exit 1
fi
out=$(git ls-files -z '*.h' '*.cpp' | xargs -0 clang-format --dry-run --Werror 2>&1)
status=$?
if [ "$status" -ne 0 ]; then
    files=$(printf '%s\n' "$out" | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
    if [ -n "$files" ]; then
        echo "check-format: $(printf '%s\n' "$files" | wc -l) file(s) differ from .clang-format (make format fixes them):" >&2
        printf '%s\n' "$files" | sed 's/^/    /' >&2
    else
        printf '%s\n' "$out" >&2
    fi
    exit 1
fi
echo "check-format: $(git ls-files '*.h' '*.cpp' | wc -l) files formatted"
