#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Gives every C++ source and header, CMake file and script of the tree a
# licence line, "SPDX-License-Identifier: GPL-3.0-or-later", in the file's
# own comment syntax: the first line, or the second after a "#!" line.
# Files that already carry an SPDX line (in their first three lines) are
# left alone, so running it again changes nothing.
#
#   scripts/spdx.sh [DIR]           add the line where it is missing
#   scripts/spdx.sh --check [DIR]   change nothing; name every file without
#                                   one and exit 1 if there is any
#
# DIR defaults to the repository. In a Git work tree the files are those Git
# tracks or would track (ignored files, such as build folders, are not
# looked at); elsewhere every file below DIR but its build*/ and .git/.
set -euo pipefail
readonly LICENCE="GPL-3.0-or-later"
check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  shift
fi
case "${1:-}" in
  -*) echo "usage: spdx.sh [--check] [DIR]" >&2; exit 2 ;;
esac
root="${1:-$(dirname "$0")/..}"
cd "$root"

list_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1 &&
     [ "$(git rev-parse --show-toplevel)" = "$(pwd -P)" ]; then
    git ls-files -z --cached --others --exclude-standard
  else
    find . \( -path ./.git -o -path './build*' \) -prune -o -type f -print0 | sed -z 's|^\./||'
  fi
}

# The comment that starts a line in this file, or nothing when the file is
# not one that carries a licence line.
comment_of() {
  local path="$1" name
  name="$(basename "$path")"
  case "$name" in
    *.cpp | *.cc | *.cxx | *.h | *.hh | *.hpp) echo "//" ;;
    CMakeLists.txt | *.cmake | *.sh | *.bash | *.py) echo "#" ;;
    *)
      # A script without an extension (such as .ci/run) names its
      # interpreter on its first line.
      if [ "$(head -c 2 "$path" 2>/dev/null)" = "#!" ]; then echo "#"; fi
      ;;
  esac
}

has_identifier() { head -n 3 "$1" | grep -q 'SPDX-License-Identifier:'; }

add_identifier() {
  local path="$1" line="$2" tmp
  tmp="$(mktemp "$(dirname "$path")/.spdx.XXXXXX")"
  if [ "$(head -c 2 "$path")" = "#!" ]; then
    { head -n 1 "$path"; echo "$line"; tail -n +2 "$path"; } >"$tmp"
  else
    { echo "$line"; cat "$path"; } >"$tmp"
  fi
  # The new file keeps the old one's mode (a script stays executable).
  chmod --reference="$path" "$tmp"
  mv "$tmp" "$path"
}

missing=0
while IFS= read -r -d '' path; do
  [ -f "$path" ] && [ ! -L "$path" ] || continue
  comment="$(comment_of "$path")"
  [ -n "$comment" ] || continue
  has_identifier "$path" && continue
  if [ "$check" -eq 1 ]; then
    echo "no SPDX-License-Identifier line: $path"
    missing=$((missing + 1))
  else
    add_identifier "$path" "$comment SPDX-License-Identifier: $LICENCE"
    echo "added: $path"
  fi
done < <(list_files)

if [ "$check" -eq 1 ] && [ "$missing" -gt 0 ]; then
  echo "spdx.sh: $missing file(s) without a licence line; scripts/spdx.sh adds them" >&2
  exit 1
fi
exit 0
