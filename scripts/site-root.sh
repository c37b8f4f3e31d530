#!/usr/bin/env bash
# Makes a document root of the upload site in DIR (for the browser test and
# the benchmarks): the site's files and an uploads folder that the server's
# account (formix4, when started as root) owns.
#   scripts/site-root.sh DIR
set -euo pipefail
site=$(cd "$(dirname "$0")/../site" && pwd)
mkdir -p "$1/uploads"
# Everything of the site but the uploads folder.
find "$site" -mindepth 1 -maxdepth 1 ! -name uploads -exec cp -r {} "$1/" \;
chmod a+rx "$1"
[ "$(id -u)" -ne 0 ] || chown formix4: "$1/uploads"
