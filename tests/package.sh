#!/bin/sh
# Builds the Debian package, unpacks it into a scratch root and runs the qev it installed.
#   package.sh BUILD_FOLDER CPACK
set -eu
build=$(cd "$1" && pwd)
mkdir -p "$build/tmp"
scratch=$(mktemp -d "$build/tmp/package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "$*"
  exit 1
}

# cmake --install lays out the same files under any prefix.
"$(dirname "$2")/cmake" --install "$build" --prefix "$scratch/prefix" >/dev/null
for file in bin/qev libexec/qev/qev-host share/man/man1/qev.1 share/doc/qev/events.schema.json share/doc/qev/examples/scan.py; do
  [ -f "$scratch/prefix/$file" ] || fail "cmake --install did not put $file"
done

"$2" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
set -- "$scratch"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one package, found: $*"
deb=$1
echo "built $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
has() { # the package name, whatever version it asks for
  echo "$depends" | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//' | grep -Fxq "$1"
}
has fonts-dejavu-core || fail "Depends lacks fonts-dejavu-core"
# Every library the binary loads must come from a package that Depends names.
for lib in $(readelf -d "$build/qev" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
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
[ -f "$root/usr/share/man/man1/qev.1" ] || fail "no manual page in the package"
[ -f "$root/usr/share/doc/qev/events.schema.json" ] || fail "no event schema in the package"

# The installed binary runs on its own: a usage error, then a real simulation.
status=0
"$root/usr/bin/qev" >"$scratch/usage" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "qev without arguments: status $status"
[ "$(cat "$scratch/usage")" = '{"event":"error","message":"Use list, scan or simulate."}' ] ||
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
  --source flatbed --dpi 50 --out "$scratch/scans" >"$scratch/scan" 2>"$scratch/errors" || status=$?
cat "$scratch/scan"
[ "$status" -eq 0 ] || fail "qev scan: status $status"
[ ! -s "$scratch/errors" ] || fail "qev scan wrote to standard error: $(cat "$scratch/errors")"
[ "$(tail -n 1 "$scratch/scan")" = '{"event":"done","pages":1}' ] || fail "the scan did not end with done"
