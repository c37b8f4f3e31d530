#!/usr/bin/env bash
# The upload site's cluster (./run.sh cluster: scripts/cluster.sh under
# supervisord) under load, with faults injected one after another: a server
# killed, a server hung, both servers restarted, HAProxy killed and reloaded,
# Redis flushed and killed. Prints the table README shows.
#   bench/faults/run.sh [SECONDS_PER_FAULT]    (default 20)
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh
scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_BIDBENCH=OFF >/dev/null
work=$(mktemp -d /tmp/formix4-faults-XXXXXX)
chmod a+rx "$work"  # the servers run as formix4 when started as root
cluster=
cleanup() {
  [ -z "$cluster" ] || { kill -TERM -- "-$cluster" 2>/dev/null || true; wait "$cluster" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
scripts/site-root.sh "$work/www"
mkdir -p "$work/run"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
export PLATFORM_REGISTRY_DIR=$work/registry FORMIX4_RUN_DIR=$work/run
export FORMIX4_PORT=$(free_port) FORMIX4_PORT_ONE=$(free_port) FORMIX4_PORT_TWO=$(free_port) FORMIX4_REDIS_PORT=$(free_port)
setsid scripts/cluster.sh build-bench "$work/www" >"$work/cluster.log" 2>&1 &
cluster=$!
for _ in $(seq 100); do
  curl -sf "http://127.0.0.1:$FORMIX4_PORT/health" >/dev/null 2>&1 && break
  sleep 0.2
done
echo "commit $(git rev-parse --short HEAD), $(nproc) cores; 10 clients uploading 20 MB, 5 pollers, a probe every 50 ms"
python3 bench/faults/faults.py "$work/www" "$work/run" "$FORMIX4_PORT" "$FORMIX4_PORT_ONE" "$FORMIX4_PORT_TWO" \
  "$FORMIX4_REDIS_PORT" "${1:-20}"
