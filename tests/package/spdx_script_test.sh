#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/spdx.sh on a scratch tree: the line goes first (after a "#!"
# line), in each kind of file's comment syntax, a second run changes
# nothing, scripts stay executable, other files are not touched, and
# --check names exactly the files without a line.
set -euo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/spdx.sh"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
failures=0
fail() {
  echo "spdx_script_test: $*" >&2
  failures=$((failures + 1))
}
expect_lines() {  # FILE FIRST [SECOND]: the file's first lines
  local got
  got="$(head -n 1 "$tree/$1")"
  [ "$got" = "$2" ] || fail "$1: first line is '$got', expected '$2'"
  if [ $# -ge 3 ]; then
    got="$(sed -n 2p "$tree/$1")"
    [ "$got" = "$3" ] || fail "$1: second line is '$got', expected '$3'"
  fi
}

mkdir -p "$tree/engine" "$tree/scripts" "$tree/.ci" "$tree/docs" "$tree/build/engine"
printf '// A header.\n#pragma once\n' >"$tree/engine/a.h"
printf '#include "a.h"\nint main() {}\n' >"$tree/engine/a.cpp"
printf 'add_library(a a.cpp)\n' >"$tree/engine/CMakeLists.txt"
printf 'set(X 1)\n' >"$tree/engine/extra.cmake"
printf '#!/usr/bin/env bash\necho hi\n' >"$tree/scripts/run.sh"
printf '#!/usr/bin/env bash\nexit 0\n' >"$tree/.ci/run"
printf '#!/usr/bin/env python3\nprint(1)\n' >"$tree/scripts/make.py"
printf '// SPDX-License-Identifier: MIT\nint b;\n' >"$tree/engine/b.cpp"
printf '<p>manual</p>\n' >"$tree/docs/manual.html"
printf 'int generated;\n' >"$tree/build/engine/generated.cpp"
chmod 755 "$tree/scripts/run.sh" "$tree/.ci/run"

# --check names the six files without a line, and nothing else.
if out="$("$script" --check "$tree" 2>/dev/null)"; then fail "--check passed a tree with unmarked files"; fi
named="$(sed -n 's/^no SPDX-License-Identifier line: //p' <<<"$out" | sort | tr '\n' ' ')"
[ "$named" = ".ci/run engine/CMakeLists.txt engine/a.cpp engine/a.h engine/extra.cmake scripts/make.py scripts/run.sh " ] ||
  fail "--check named: $named"
[ "$(head -n 1 "$tree/engine/a.h")" = "// A header." ] || fail "--check changed a file"

"$script" "$tree" >/dev/null
spdx="SPDX-License-Identifier: GPL-3.0-or-later"
expect_lines engine/a.h "// $spdx" "// A header."
expect_lines engine/a.cpp "// $spdx" '#include "a.h"'
expect_lines engine/CMakeLists.txt "# $spdx" "add_library(a a.cpp)"
expect_lines engine/extra.cmake "# $spdx" "set(X 1)"
expect_lines scripts/run.sh "#!/usr/bin/env bash" "# $spdx"
expect_lines .ci/run "#!/usr/bin/env bash" "# $spdx"
expect_lines scripts/make.py "#!/usr/bin/env python3" "# $spdx"
expect_lines engine/b.cpp "// SPDX-License-Identifier: MIT" "int b;"
expect_lines docs/manual.html "<p>manual</p>"
expect_lines build/engine/generated.cpp "int generated;"
[ -x "$tree/scripts/run.sh" ] && [ -x "$tree/.ci/run" ] || fail "a script lost its executable mode"
[ "$(wc -l <"$tree/engine/a.h")" -eq 3 ] || fail "engine/a.h lost or gained lines"

# A second run changes nothing and --check passes.
before="$(cd "$tree" && find . -type f -exec md5sum {} + | sort)"
"$script" "$tree" >/dev/null
after="$(cd "$tree" && find . -type f -exec md5sum {} + | sort)"
[ "$before" = "$after" ] || fail "a second run changed files"
"$script" --check "$tree" >/dev/null || fail "--check failed on a marked tree"
[ -z "$(find "$tree" -name '.spdx.*')" ] || fail "a scratch file was left behind"

[ "$failures" -eq 0 ] || exit 1
echo "spdx_script_test: ok"
