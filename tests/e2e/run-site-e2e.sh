#!/usr/bin/env bash
# Runs the upload site in formix4-server (registered into a temporary
# registry, a temporary document root) and drives Chromium through it.
#   tests/e2e/run-site-e2e.sh [--cluster] BUILD_DIR ARTIFACTS_DIR
# --cluster runs the site as ./run.sh cluster does (Redis, two servers,
# HAProxy; scripts/cluster.sh) and drives Chromium through the balancer.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cluster=
[ "${1:-}" != "--cluster" ] || { cluster=1; shift; }
build=$(cd "$1" && pwd)
artifacts=$2
work=$(mktemp -d /tmp/site-e2e-XXXXXX)
server_pid=
cleanup() {
  if [ -n "$cluster" ] && [ -n "$server_pid" ]; then
    kill -- "-$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
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
if [ -n "$cluster" ]; then
  free_port() { node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })'; }
  FORMIX4_PORT=$(free_port) FORMIX4_PORT_ONE=$(free_port) FORMIX4_PORT_TWO=$(free_port) FORMIX4_REDIS_PORT=$(free_port) \
    setsid "$here/../../scripts/cluster.sh" "$build" "$work/www" > "$work/server.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do [ "$(grep -c listening "$work/server.out" 2>/dev/null)" = 2 ] && break; sleep 0.1; done
  url=$(sed -n 's/^The upload site: \(http:[^ ]*\)\/ .*/\1/p' "$work/server.out")
  artifacts=$artifacts/cluster
else
  "$build/host/formix4-server" --port 0 --root "$work/www" > "$work/server.out" &
  server_pid=$!
  for _ in $(seq 100); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
  url=$(sed -n 's/.*listening on \(http:[^ ]*\)\/ .*/\1/p' "$work/server.out")
fi
[ -n "$url" ] || { cat "$work/server.out" >&2; echo "formix4-server did not start" >&2; exit 1; }
node "$here/upload-site.mjs" "$url" "$work/www" "$here/../data/images/picture.png" "$artifacts"
# A classic page in an ANSI code page, in the browser (one server is enough).
[ -n "$cluster" ] || node "$here/classic-pages.mjs" "$url" "$work/www" "$artifacts"
