#!/usr/bin/env bash
# Fails when a long option that PROGRAM's --help names is missing from one of the DOCUMENTs
# (its manual page, its completion), so that a new option cannot ship undocumented.
#   check-options.sh PROGRAM DOCUMENT...
set -euo pipefail
program=$1
shift
help=$("$program" --help)
options=$(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
[ -n "$options" ] || { echo "$program --help names no option" >&2; exit 1; }
missing=0
for document in "$@"; do
  # A manual page writes each hyphen as \-.
  text=$(sed 's/\\-/-/g' "$document")
  for option in $options; do
    # Followed by anything but more of a name: --simulate is not --simulate-reset.
    if ! grep -qE -- "$option([^a-z-]|\$)" <<<"$text"; then
      echo "$(basename "$document") does not document $option of $(basename "$program")" >&2
      missing=1
    fi
  done
done
exit $missing
