#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the upload site.
# Registers the Formix4 component into a registry folder (var/registry) and
# serves site/ at http://127.0.0.1:8080/ until interrupted; uploaded files go
# to site/uploads/.
#   FORMIX4_PORT, FORMIX4_BIND   another port or address
#   FORMIX4_MAX_UPLOAD           the size limit in bytes (default 2,000,000,000)
#   ./run.sh bidbench            starts Bidbench instead (needs a display).
#   ./run.sh cluster             the same site on two servers behind HAProxy on
#                                port 8080, progress shared through Redis
#                                (registry folder var/cluster-registry; see
#                                scripts/cluster.sh and README: Several servers).
#   ./run.sh -- OPTIONS...       passes formix4-server options (README: Deploying).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_BIDBENCH=ON

if [ "${1:-}" = "bidbench" ]; then
  [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || { echo "Bidbench needs a display (try: xvfb-run -a ./run.sh bidbench)" >&2; exit 1; }
  exec build/bidbench/bidbench
fi

mode=site
[ "${1:-}" != "cluster" ] || { mode=cluster; shift; }
[ "${1:-}" != "--" ] || shift
mkdir -p site/uploads
# Started as root, the server runs its pages as the account formix4, which
# owns the uploads folder and can write nothing else of the checkout.
[ "$(id -u)" -ne 0 ] || chown formix4: site/uploads
if [ $mode = cluster ]; then
  # A registry folder of its own: its ProgressStore setting names the
  # cluster's Redis, which the single server must not wait for.
  export PLATFORM_REGISTRY_DIR=${PLATFORM_REGISTRY_DIR:-$PWD/var/cluster-registry}
  exec scripts/cluster.sh build site --max-upload "${FORMIX4_MAX_UPLOAD:-2000000000}" "$@"
fi
export PLATFORM_REGISTRY_DIR=${PLATFORM_REGISTRY_DIR:-$PWD/var/registry}
scripts/register.sh build
echo "Formix4 registered in $PLATFORM_REGISTRY_DIR"
exec build/host/formix4-server --bind "${FORMIX4_BIND:-127.0.0.1}" --port "${FORMIX4_PORT:-8080}" --root site \
  --max-upload "${FORMIX4_MAX_UPLOAD:-2000000000}" "$@"
