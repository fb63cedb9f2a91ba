#!/bin/sh
# The manual page renders without a single warning from man's formatters.
#   manpage.sh PAGE
set -eu
warnings=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "$warnings"
  exit 1
fi
echo "no warnings"
