#!/usr/bin/env bash
# The upload site on two servers behind HAProxy, sharing upload progress
# through Redis (what `./run.sh cluster` starts):
#   scripts/cluster.sh BUILD_DIR DOCUMENT_ROOT [formix4-server options...]
# Redis (deploy/cluster/redis.conf) on 127.0.0.1:$FORMIX4_REDIS_PORT (6380),
# the servers on 127.0.0.1:$FORMIX4_PORT_ONE and $FORMIX4_PORT_TWO (8081,
# 8082), both serving DOCUMENT_ROOT, HAProxy (deploy/cluster/haproxy.cfg) on
# $FORMIX4_BIND:$FORMIX4_PORT (127.0.0.1:8080), round robin. The component
# is registered in $PLATFORM_REGISTRY_DIR with ProgressStore naming the
# Redis server. Ctrl+C stops all four; so does the end of any one of them.
set -euo pipefail
build=$1 root=$2
shift 2
repo=$(cd "$(dirname "$0")/.." && pwd)
export FORMIX4_BIND=${FORMIX4_BIND:-127.0.0.1} FORMIX4_PORT=${FORMIX4_PORT:-8080}
export FORMIX4_PORT_ONE=${FORMIX4_PORT_ONE:-8081} FORMIX4_PORT_TWO=${FORMIX4_PORT_TWO:-8082}
redis_port=${FORMIX4_REDIS_PORT:-6380}

"$repo/scripts/register.sh" "$build"
"$build/host/reg" add 'HKLM\SOFTWARE\Venhale\Formix\4.0' /v ProgressStore /t REG_SZ \
  /d "redis://127.0.0.1:$redis_port/0"

pids=()
stop_all() {
  trap - INT TERM EXIT
  kill "${pids[@]}" 2>/dev/null || true
  wait || true
}
trap stop_all INT TERM EXIT

# Redis answers every server's writes and polls, each within 50 ms or
# abandoned: it runs ahead of them when the machine is busy (started as root).
priority=()
[ "$(id -u)" -ne 0 ] || priority=(nice -n -10)
"${priority[@]}" redis-server "$repo/deploy/cluster/redis.conf" --port "$redis_port" &
pids+=($!)
for _ in $(seq 100); do
  redis-cli -p "$redis_port" ping >/dev/null 2>&1 && break
  sleep 0.1
done
for port in "$FORMIX4_PORT_ONE" "$FORMIX4_PORT_TWO"; do
  "$build/host/formix4-server" --bind 127.0.0.1 --port "$port" --root "$root" "$@" &
  pids+=($!)
done
haproxy -db -f "$repo/deploy/cluster/haproxy.cfg" &
pids+=($!)
echo "The upload site: http://$FORMIX4_BIND:$FORMIX4_PORT/ (servers on $FORMIX4_PORT_ONE and $FORMIX4_PORT_TWO, Redis on $redis_port)"
# A Redis that stops does not stop the site: uploads go on without it.
wait -n "${pids[@]:1}"
