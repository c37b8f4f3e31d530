#!/usr/bin/env bash
# Runs the upload site in formix4-server (registered into a temporary
# registry, a temporary document root) and drives Chromium through it.
#   tests/e2e/run-site-e2e.sh BUILD_DIR ARTIFACTS_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
artifacts=$2
work=$(mktemp -d /tmp/site-e2e-XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

[ -d "$here/node_modules/playwright-core" ] || (cd "$here" && npm ci --no-audit --no-fund)
export PLATFORM_REGISTRY_DIR=$work/registry
# Started as root, the server's pages run as formix4: it reads the site and
# the registry and writes the uploads folder only.
chmod a+rx "$work"
"$here/../../scripts/register.sh" "$build"
"$here/../../scripts/site-root.sh" "$work/www"
"$build/host/formix4-server" --port 0 --root "$work/www" > "$work/server.out" &
server_pid=$!
for _ in $(seq 100); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
url=$(sed -n 's/.*listening on \(http:[^ ]*\)\/ .*/\1/p' "$work/server.out")
[ -n "$url" ] || { echo "formix4-server did not start" >&2; exit 1; }
node "$here/upload-site.mjs" "$url" "$work/www" "$here/../data/images/picture.png" "$artifacts"
