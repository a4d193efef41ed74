#!/usr/bin/env bash
# Builds the Debian package of a build folder (default build/) into a
# scratch folder and checks it: the exact file list, the dependencies, and
# that the programs and the manual page in it work.
set -euo pipefail
BUILD_DIR="$(cd "${1:-build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Every file the package installs, and nothing else (folders aside).
expected="\
/usr/bin/vellomar
/usr/bin/vellomar-render
/usr/share/applications/vellomar.desktop
/usr/share/doc/vellomar/vellomar.html
/usr/share/icons/hicolor/16x16/apps/vellomar.png
/usr/share/icons/hicolor/32x32/apps/vellomar.png
/usr/share/icons/hicolor/scalable/apps/vellomar.svg
/usr/share/man/man1/vellomar-render.1.gz
/usr/share/metainfo/vellomar.metainfo.xml"
# Runtime packages the programs cannot start or work without.
required_depends="libqt6core6 libqt6gui6 libqt6widgets6 libqt6multimedia6 libfftw3-double3 qt6-image-formats-plugins"

failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}

(cd "$BUILD_DIR" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  fail "cpack -G DEB failed"
  exit 1
}
debs=("$work"/*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || { fail "expected one .deb, found: ${debs[*]}"; exit 1; }
deb="${debs[0]}"
echo "package: $(basename "$deb")"

files="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort)"
if [ "$files" != "$expected" ]; then
  fail "the package's files differ from the expected list (- expected, + in the package):"
  diff <(echo "$expected") <(echo "$files") | grep '^[<>]' | sed 's/^</-/; s/^>/+/' >&2 || true
fi
if dpkg-deb -c "$deb" | awk '{ print $2 }' | grep -qv '^root/root$'; then
  fail "files not owned by root/root"
fi

depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for p in $required_depends; do
  grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends does not name $p"
done
[ "$(dpkg-deb -f "$deb" Package)" = vellomar ] || fail "the package is not called vellomar"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "wrong Architecture"

# The stripped programs still run, and the manual page is the one in docs/.
dpkg-deb -x "$deb" "$work/root"
"$work/root/usr/bin/vellomar-render" --version | grep -q '^vellomar-render ' || fail "vellomar-render --version failed"
src="$(dirname "$0")/../docs/vellomar-render.1"
gzip -dc "$work/root/usr/share/man/man1/vellomar-render.1.gz" | cmp -s - "$src" ||
  fail "the packaged manual page is not docs/vellomar-render.1"

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures problem(s)" >&2
  exit 1
fi
echo "check-package: ok"
