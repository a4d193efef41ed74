#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages of a build folder (default build/) into a
# scratch folder and checks them: each package's exact file list and
# dependencies (the command line's pulls in no Qt Widgets, no Qt Multimedia
# and none of their GStreamer or FFmpeg stack), the hardening of the
# programs, that the programs run, that the manual pages, manual,
# changelog and copyright are the repository's, that the versions agree,
# and lintian. Prints each package's installed size, its dependencies and
# what installing it brings to a minimal Debian system.
#   check-package.sh [BUILD_DIR]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="$(cd "${1:-build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD_DIR/CMakeCache.txt"; }
gui="$(cache_value VELLOMAR_GUI)"
harden="$(cache_value VELLOMAR_HARDEN)"

(cd "$BUILD_DIR" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  fail "cpack -G DEB failed"
  exit 1
}

version="$(dpkg-parsechangelog -l "$src/packaging/changelog" -S Version)"
arch="$(dpkg --print-architecture)"
render_deb="$work/vellomar-render_${version}_${arch}.deb"
window_deb="$work/vellomar_${version}_${arch}.deb"
expected_debs="$render_deb"
[ "$gui" = OFF ] || expected_debs="$render_deb $window_deb"
found_debs="$(echo "$work"/*.deb)"
[ "$found_debs" = "$expected_debs" ] ||
  { fail "expected the packages $expected_debs (the changelog's version), found: $found_debs"; exit 1; }

# Every file a package installs, and nothing else (folders aside).
render_files="\
/usr/bin/vellomar-render
/usr/share/bash-completion/completions/vellomar-render
/usr/share/doc/vellomar-render/changelog.gz
/usr/share/doc/vellomar-render/copyright
/usr/share/man/man1/vellomar-render.1.gz"
window_files="$( (
  printf '%s\n' /usr/bin/vellomar /usr/share/applications/org.vellomar.vellomar.desktop \
    /usr/share/doc/vellomar/changelog.gz /usr/share/doc/vellomar/copyright /usr/share/doc/vellomar/vellomar.html \
    /usr/share/doc-base/vellomar.vellomar-manual \
    /usr/share/icons/hicolor/16x16/apps/vellomar.png /usr/share/icons/hicolor/32x32/apps/vellomar.png \
    /usr/share/icons/hicolor/scalable/apps/vellomar.svg /usr/share/man/man1/vellomar.1.gz \
    /usr/share/metainfo/org.vellomar.vellomar.metainfo.xml
  for image in "$src"/docs/images/*.png; do echo "/usr/share/doc/vellomar/images/$(basename "$image")"; done
) | sort)"

check_files() {  # DEB EXPECTED
  local files
  files="$(dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort)"
  if [ "$files" != "$2" ]; then
    fail "$(basename "$1"): its files differ from the expected list (- expected, + in the package):"
    diff <(echo "$2") <(echo "$files") | grep '^[<>]' | sed 's/^</-/; s/^>/+/' >&2 || true
  fi
  if dpkg-deb -c "$1" | awk '{ print $2 }' | grep -qv '^root/root$'; then
    fail "$(basename "$1"): files not owned by root/root"
  fi
}

# The names in a Depends field, one a line.
depends_names() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed -E 's/^ *//; s/[ (].*//' | sed '/^$/d'; }

check_depends() {  # DEB REQUIRED FORBIDDEN_PATTERN
  local names
  names="$(depends_names "$1")"
  for p in $2; do
    grep -qx "$p" <<<"$names" || fail "$(basename "$1"): Depends does not name $p"
  done
  if [ -n "$3" ] && grep -Eq "$3" <<<"$names"; then
    fail "$(basename "$1"): Depends names $(grep -E "$3" <<<"$names" | tr '\n' ' ')"
  fi
}

# Qt's window and sound libraries and the media stacks behind them.
heavy='^(libqt6widgets6|libqt6multimedia6|libqt6network6|libgstreamer.*|gstreamer1\.0-.*|libav(codec|format|util|filter|device)[0-9]+|libsw(scale|resample)[0-9]+|qt6-qpa-plugins)$'

check_files "$render_deb" "$render_files"
check_depends "$render_deb" "libqt6core6 libqt6gui6 libfftw3-double3 libsndfile1 libsoxr0 qt6-image-formats-plugins" "$heavy"
[ "$(dpkg-deb -f "$render_deb" Package)" = vellomar-render ] || fail "the command line's package is not vellomar-render"
if [ "$gui" != OFF ]; then
  check_files "$window_deb" "$window_files"
  check_depends "$window_deb" "vellomar-render libqt6core6 libqt6gui6 libqt6widgets6 libqt6multimedia6" ""
  dpkg-deb -f "$window_deb" Depends | grep -q "vellomar-render (= $version)" ||
    fail "vellomar does not depend on vellomar-render (= $version)"
fi
for deb in $expected_debs; do
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$(basename "$deb"): not the changelog's version $version"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$(basename "$deb"): wrong Architecture"
  dpkg-deb -x "$deb" "$work/root"
done
root="$work/root"

# The programs are hardened as dpkg-buildflags asks: position independent,
# relocations read-only and bound at start, stack protector and checked
# buffer functions.
check_hardening() {  # PROGRAM
  local name header segments dynamic symbols
  name="$(basename "$1")"
  # Read whole before they are searched: grep -q ending a pipe early
  # would fail it.
  header="$(readelf -h "$1")"
  segments="$(readelf -lW "$1")"
  dynamic="$(readelf -dW "$1")"
  symbols="$(readelf --dyn-syms -W "$1")"
  grep -q 'Type:[[:space:]]*DYN' <<<"$header" || fail "$name is not position independent"
  grep -q GNU_RELRO <<<"$segments" || fail "$name has no read-only relocations (relro)"
  grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$dynamic" || fail "$name is not bound at start (bindnow)"
  grep -q '__stack_chk_fail' <<<"$symbols" || fail "$name has no stack protector"
  grep -Eq ' __[a-z0-9_]+_chk@' <<<"$symbols" || fail "$name uses no checked (fortified) functions"
}
programs="$root/usr/bin/vellomar-render"
[ "$gui" = OFF ] || programs="$programs $root/usr/bin/vellomar"
if [ "$harden" != OFF ]; then
  for program in $programs; do check_hardening "$program"; done
fi

# The stripped programs still run, without a display.
"$root/usr/bin/vellomar-render" --version | grep -q '^vellomar-render ' || fail "vellomar-render --version failed"
if [ "$gui" != OFF ]; then
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/vellomar" --version | grep -q "^vellomar $version\$" ||
    fail "vellomar --version failed"
fi

# What the packages hold is the repository's.
same() {  # PACKAGED SOURCE [gz]
  if [ "${3:-}" = gz ]; then
    gzip -dc "$1" | cmp -s - "$2" || fail "${1#"$root"} is not ${2#"$src"/}"
  else
    cmp -s "$1" "$2" || fail "${1#"$root"} is not ${2#"$src"/}"
  fi
}
same "$root/usr/share/man/man1/vellomar-render.1.gz" "$src/docs/vellomar-render.1" gz
same "$root/usr/share/doc/vellomar-render/changelog.gz" "$src/packaging/changelog" gz
same "$root/usr/share/doc/vellomar-render/copyright" "$src/packaging/copyright"
if [ "$gui" != OFF ]; then
  same "$root/usr/share/man/man1/vellomar.1.gz" "$src/docs/vellomar.1" gz
  same "$root/usr/share/doc/vellomar/vellomar.html" "$src/docs/vellomar.html"
  for image in "$src"/docs/images/*.png; do same "$root/usr/share/doc/vellomar/images/$(basename "$image")" "$image"; done
fi

# One version and one date: the project's, the changelog's newest entry and
# the AppStream file's newest release.
project_version="$(sed -nE 's/^project\(Vellomar VERSION ([0-9.]+).*/\1/p' "$src/CMakeLists.txt")"
[ "$project_version" = "$version" ] || fail "CMakeLists.txt says version $project_version, the changelog $version"
release="$(grep -m1 -o '<release version="[^"]*" date="[^"]*"' "$src/resources/org.vellomar.vellomar.metainfo.xml")"
changelog_date="$(date -u -d "$(dpkg-parsechangelog -l "$src/packaging/changelog" -S Date)" +%F)"
[ "$release" = "<release version=\"$version\" date=\"$changelog_date\"" ] ||
  fail "the AppStream file's newest release ($release) is not the changelog's ($version, $changelog_date)"

# Sizes and dependencies, for the record.
for deb in $expected_debs; do
  direct="$(depends_names "$deb" | wc -l)"
  echo "$(basename "$deb"): Installed-Size $(dpkg-deb -f "$deb" Installed-Size) KiB," \
    "$direct direct dependencies: $(dpkg-deb -f "$deb" Depends)"
done
# What installing the packages brings to a minimal Debian system (its
# required packages and apt, taken from this machine's), as apt-get does by
# default, recommended packages included, and without them. The command
# line's package alone brings nothing of the heavy stack, and with what is
# recommended no more than Qt's platform plugins and Qt Network behind them
# (Qt Gui recommends them): no Qt Widgets, Qt Multimedia, GStreamer or FFmpeg.
fresh_install() {  # RECOMMENDS(true|false) DEB...
  local recommends="$1" new size heavy_new
  shift
  if ! apt-get -s -o Dir::State::status="$work/status" -o APT::Install-Recommends="$recommends" \
    install "$@" >"$work/apt.log" 2>&1; then
    fail "apt-get cannot install $(basename -a "$@" | tr '\n' ' ')on a minimal system:"
    cat "$work/apt.log" >&2
    return
  fi
  new="$(sed -nE 's/^Inst ([^ ]+).*/\1/p' "$work/apt.log" | grep -v '^vellomar' || true)"
  size="$(xargs -r apt-cache show --no-all-versions <<<"$new" 2>/dev/null |
    awk '/^Installed-Size:/ { s += $2 } END { printf "%.0f", s / 1024 }')"
  echo "$(basename -a "$@" | tr '\n' ' ')on a minimal Debian system" \
    "(recommended packages $([ "$recommends" = true ] && echo included || echo left out)):" \
    "$(grep -c . <<<"$new" || true) more packages, $size MiB installed"
  if [ "$#" -eq 1 ]; then
    heavy_new="$(grep -E "$heavy" <<<"$new" || true)"
    [ "$recommends" = false ] || heavy_new="$(grep -Evx 'qt6-qpa-plugins|libqt6network6' <<<"$heavy_new" || true)"
    [ -z "$heavy_new" ] || fail "installing $(basename "$1") brings $(tr '\n' ' ' <<<"$heavy_new")"
  fi
}
if apt-cache show libqt6core6 >/dev/null 2>&1 && command -v python3 >/dev/null; then
  python3 "$src/scripts/minimal-status.py" >"$work/status"
  for recommends in true false; do
    fresh_install "$recommends" "$render_deb"
    [ "$gui" = OFF ] || fresh_install "$recommends" "$render_deb" "$window_deb"
  done
else
  echo "check-package: apt knows no packages here (or python3 is missing); what an install brings is not checked"
fi

# Lintian: no error and no warning. The informational and pedantic tags
# that remain were reviewed; each is listed below with why it stays, and
# any other fails the check until it is reviewed too.
reviewed=(
  # Flags words in the program's texts: "occured" is in the program's
  # established messages (kept word for word), and the others are runs of
  # letters in the compressed pictures the program carries.
  spelling-error-in-binary
)
if ! command -v lintian >/dev/null; then
  fail "lintian is not installed (scripts/install-deps.sh installs it)"
else
  # shellcheck disable=SC2086 # the package list is words
  lintian --pedantic --display-info --display-experimental --tag-display-limit 0 --allow-root \
    $expected_debs >"$work/lintian.log" 2>&1 || true
  sed 's/^/lintian: /' "$work/lintian.log"
  grep -E '^[EW]: ' "$work/lintian.log" >/dev/null && fail "lintian reports errors or warnings"
  while read -r tag; do
    [ -n "$tag" ] || continue
    printf '%s\n' "${reviewed[@]}" | grep -qx "$tag" || fail "lintian tag $tag has not been reviewed"
  done < <(sed -nE 's/^[IPX]: [^ ]+: ([^ ]+).*/\1/p' "$work/lintian.log" | sort -u)
fi

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures problem(s)" >&2
  exit 1
fi
echo "check-package: ok"
