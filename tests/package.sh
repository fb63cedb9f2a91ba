#!/bin/sh
# Builds the Debian package, checks it with lintian (where installed), unpacks it into a
# scratch root and runs the qev it installed.
#   package.sh BUILD_FOLDER CPACK
set -eu
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/tmp"
scratch=$(mktemp -d "$build/tmp/package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "$*"
  exit 1
}

# cmake --install lays out the same files under any prefix.
"$(dirname "$2")/cmake" --install "$build" --prefix "$scratch/prefix" >/dev/null
for file in bin/qev libexec/qev/qev-host share/man/man1/qev.1.gz share/doc/qev/copyright \
  share/doc/qev/changelog.gz share/doc/qev/events.schema.json share/doc/qev/examples/scan.py; do
  [ -f "$scratch/prefix/$file" ] || fail "cmake --install did not put $file"
done

"$2" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
set -- "$scratch"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one package, found: $*"
deb=$1
echo "built $(basename "$deb")"

# lintian accepts the package without an error or a warning, and finds every binary hardened
# (cmake/hardening.cmake; lintian rates a missing bind-now or fortify as information only).
# Other informational tags are shown and allowed: `binary-has-unneeded-section .comment`
# (cpack strips binaries the way `install -s` does, which leaves the compiler's version note).
if command -v lintian >/dev/null; then
  lintian --no-cfg --display-info --fail-on error,warning "$deb" >"$scratch/lintian" 2>&1 ||
    { cat "$scratch/lintian"; fail "lintian rejects the package"; }
  grep -v 'running with root privileges' "$scratch/lintian" || true
  unhardened=$(grep ' hardening-' "$scratch/lintian" || true)
  case $(sed -n 's/^CMAKE_BUILD_TYPE:[^=]*=//p' "$build/CMakeCache.txt") in
    Release | RelWithDebInfo | MinSizeRel) ;;
    # Without the optimiser libc calls are not fortified.
    *) unhardened=$(echo "$unhardened" | grep -v ' hardening-no-fortify-functions ' || true) ;;
  esac
  [ -z "$unhardened" ] || fail "lintian finds a binary that is not hardened"
  echo "lintian: no errors, no warnings"
else
  echo "lintian is not installed: the package was not checked"
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
has() { # the package name, whatever version it asks for
  echo "$depends" | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//' | grep -Fxq "$1"
}
has fonts-dejavu-core || fail "Depends lacks fonts-dejavu-core"
# Every library the binaries load must come from a package that Depends names.
for lib in $(readelf -d "$build/qev" "$build/qev-host" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
  found=""
  for package in $(dpkg -S "*/$lib" 2>/dev/null | cut -d: -f1 | tr ', ' '\n\n' | sort -u); do
    has "$package" && found=$package
  done
  [ -n "$found" ] || fail "Depends names no package that holds $lib"
done

root="$scratch/root"
dpkg -x "$deb" "$root"
[ -x "$root/usr/bin/qev" ] || fail "no usr/bin/qev in the package"
[ -x "$root/usr/libexec/qev/qev-host" ] || fail "no usr/libexec/qev/qev-host in the package"
gzip -dc "$root/usr/share/man/man1/qev.1.gz" | cmp -s - "$source/docs/qev.1" ||
  fail "the packaged manual page is not docs/qev.1"
# The newest changelog entry names the version being packaged.
gzip -dc "$root/usr/share/doc/qev/changelog.gz" >"$scratch/changelog"
logged=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
[ "$logged" = "$(dpkg-deb -f "$deb" Version)" ] ||
  fail "packaging/changelog starts at $logged, the package is $(dpkg-deb -f "$deb" Version)"
[ -f "$root/usr/share/doc/qev/copyright" ] || fail "no copyright file in the package"
[ -f "$root/usr/share/doc/qev/events.schema.json" ] || fail "no event schema in the package"

# The installed binary runs on its own: a usage error, then a real simulation.
status=0
"$root/usr/bin/qev" >"$scratch/usage" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "qev without arguments: status $status"
[ "$(cat "$scratch/usage")" = '{"event":"error","code":"usage","message":"Use list, scan or simulate."}' ] ||
  fail "qev without arguments wrote: $(cat "$scratch/usage")"

status=0
"$root/usr/bin/qev" simulate --out "$scratch/pages" --pages 1 >"$scratch/events" 2>"$scratch/errors" ||
  status=$?
cat "$scratch/events"
[ "$status" -eq 0 ] || fail "qev simulate: status $status"
[ ! -s "$scratch/errors" ] || fail "qev simulate wrote to standard error: $(cat "$scratch/errors")"
[ "$(grep -c '"event":"page"' "$scratch/events")" -eq 1 ] || fail "expected one page event"
[ "$(tail -n 1 "$scratch/events" | grep -c '"event":"done"')" -eq 1 ] || fail "the last line is not done"
set -- "$scratch"/pages/QEV_*_0001.jpg
[ -s "$1" ] || fail "no page file in $scratch/pages"
[ "$(head -c 3 "$1" | od -An -tx1 | tr -d ' ')" = ffd8ff ] || fail "$1 is not a JPEG file"
echo "the installed qev wrote $(basename "$1")"

# The installed qev finds its driver host and scans SANE's test scanner through it.
status=0
SANE_CONFIG_DIR="$(cd "$(dirname "$0")" && pwd)/sane/test" "$root/usr/bin/qev" scan --device test:0 \
  --source flatbed --dpi 50 --out "$scratch/scans" --progress >"$scratch/scan" 2>"$scratch/errors" ||
  status=$?
cat "$scratch/scan"
[ "$status" -eq 0 ] || fail "qev scan: status $status"
[ ! -s "$scratch/errors" ] || fail "qev scan wrote to standard error: $(cat "$scratch/errors")"
[ "$(tail -n 1 "$scratch/scan")" = '{"event":"done","pages":1}' ] || fail "the scan did not end with done"
[ "$(sed -n 2p "$scratch/scan")" = '{"event":"progress","n":1,"percent":0}' ] ||
  fail "the scan's page did not start with its progress"

# And tells what the test scanner can do.
status=0
SANE_CONFIG_DIR="$(cd "$(dirname "$0")" && pwd)/sane/test" "$root/usr/bin/qev" show --device test:0 \
  >"$scratch/show" 2>"$scratch/errors" || status=$?
cat "$scratch/show"
[ "$status" -eq 0 ] || fail "qev show: status $status"
[ ! -s "$scratch/errors" ] || fail "qev show wrote to standard error: $(cat "$scratch/errors")"
[ "$(grep -c '"event":"unit"' "$scratch/show")" -eq 2 ] || fail "expected two unit events"
[ "$(tail -n 1 "$scratch/show")" = '{"event":"done"}' ] || fail "show did not end with done"
