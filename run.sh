#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: registers the
# Formix4 component into a registry folder and shows what was registered.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

export PLATFORM_REGISTRY_DIR=${PLATFORM_REGISTRY_DIR:-$PWD/var/registry}
build/host/regsvr build/formix4/libformix4.so
for f in "$PLATFORM_REGISTRY_DIR"/*.reg; do
  echo
  echo "==> $f"
  cat "$f"
done
