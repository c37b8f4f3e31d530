#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: registers the
# Formix4 component into a registry folder and shows what was registered.
#   ./run.sh bidbench   starts Bidbench instead (needs a display).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_BIDBENCH=ON

if [ "${1:-}" = "bidbench" ]; then
  [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || { echo "Bidbench needs a display (try: xvfb-run -a ./run.sh bidbench)" >&2; exit 1; }
  exec build/bidbench/bidbench
fi

export PLATFORM_REGISTRY_DIR=${PLATFORM_REGISTRY_DIR:-$PWD/var/registry}
build/host/regsvr build/formix4/libformix4.so
for f in "$PLATFORM_REGISTRY_DIR"/*.reg; do
  echo
  echo "==> $f"
  cat "$f"
done
