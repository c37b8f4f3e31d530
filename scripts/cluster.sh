#!/usr/bin/env bash
# The upload site on two servers behind HAProxy, sharing upload progress
# through Redis (what `./run.sh cluster` starts), under supervisord:
#   scripts/cluster.sh BUILD_DIR DOCUMENT_ROOT [formix4-server options...]
# Redis (deploy/cluster/redis.conf) on 127.0.0.1:$FORMIX4_REDIS_PORT (6380),
# the servers on 127.0.0.1:$FORMIX4_PORT_ONE and $FORMIX4_PORT_TWO (8081,
# 8082), both serving DOCUMENT_ROOT, HAProxy (deploy/cluster/haproxy.cfg) on
# $FORMIX4_BIND:$FORMIX4_PORT (127.0.0.1:8080), round robin over the servers
# that answer their health check. The component is registered in
# $PLATFORM_REGISTRY_DIR with ProgressStore naming the Redis server.
# supervisord (deploy/cluster/supervisord.conf) starts again any of them
# that ends; Ctrl+C stops all. Its control socket is in $FORMIX4_RUN_DIR
# (a new temporary folder unless given):
#   supervisorctl -c deploy/cluster/supervisord.conf status  (with the same
#   FORMIX4_* variables), or -s unix://$FORMIX4_RUN_DIR/supervisor.sock.
set -euo pipefail
build=$(cd "$1" && pwd) root=$(cd "$2" && pwd)
shift 2
repo=$(cd "$(dirname "$0")/.." && pwd)
export FORMIX4_BIND=${FORMIX4_BIND:-127.0.0.1} FORMIX4_PORT=${FORMIX4_PORT:-8080}
export FORMIX4_PORT_ONE=${FORMIX4_PORT_ONE:-8081} FORMIX4_PORT_TWO=${FORMIX4_PORT_TWO:-8082}
export FORMIX4_REDIS_PORT=${FORMIX4_REDIS_PORT:-6380}
export FORMIX4_DEPLOY=$repo/deploy/cluster FORMIX4_SERVER=$build/host/formix4-server FORMIX4_ROOT=$root
# The servers' further options, each in double quotes for supervisord's
# command line (which splits it as a shell would, without expanding).
options=
for option in "$@"; do
  [[ "$option" != *'"'* && "$option" != *'\'* ]] || { echo "cluster.sh: no quotes or backslashes in server options" >&2; exit 2; }
  options+=" \"$option\""
done
export FORMIX4_SERVER_OPTIONS=${options//%/%%}
own_run_dir=
if [ -z "${FORMIX4_RUN_DIR:-}" ]; then
  # Not under TMPDIR, which is the servers' own.
  FORMIX4_RUN_DIR=$(mktemp -d /tmp/formix4-cluster-XXXXXX)
  own_run_dir=$FORMIX4_RUN_DIR
fi
export FORMIX4_RUN_DIR
# Redis answers every server's writes and polls, each within 50 ms or
# abandoned: it runs ahead of them when the machine is busy (started as root).
export FORMIX4_REDIS_PRIORITY=
[ "$(id -u)" -ne 0 ] || FORMIX4_REDIS_PRIORITY="nice -n -10"

"$repo/scripts/register.sh" "$build"
"$build/host/reg" add 'HKLM\SOFTWARE\Venhale\Formix\4.0' /v ProgressStore /t REG_SZ \
  /d "redis://127.0.0.1:$FORMIX4_REDIS_PORT/0"

echo "The upload site: http://$FORMIX4_BIND:$FORMIX4_PORT/ (servers on $FORMIX4_PORT_ONE and $FORMIX4_PORT_TWO," \
  "Redis on $FORMIX4_REDIS_PORT, supervisord's socket in $FORMIX4_RUN_DIR)"
# Not exec: the run folder is removed when supervisord has stopped them all.
supervisord -c "$FORMIX4_DEPLOY/supervisord.conf" &
supervisor=$!
trap 'kill -TERM "$supervisor" 2>/dev/null; wait "$supervisor"; [ -z "$own_run_dir" ] || rm -rf "$own_run_dir"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
wait "$supervisor"
