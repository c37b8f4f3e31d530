#!/usr/bin/env bash
# Makes a document root of the upload site in DIR (for the browser test and
# the benchmarks): the site's files and an uploads folder that the server's
# account (formix4, when started as root) owns.
#   scripts/site-root.sh DIR
set -euo pipefail
site=$(cd "$(dirname "$0")/../site" && pwd)
mkdir -p "$1/uploads"
cp "$site"/*.html "$site"/*.js "$site"/*.css "$1/"
chmod a+rx "$1"
[ "$(id -u)" -ne 0 ] || chown formix4: "$1/uploads"
