#!/usr/bin/env bash
# Registers the component of a build tree into the registry folder
# $PLATFORM_REGISTRY_DIR with the site's settings, as the main job runs it:
#   scripts/register.sh BUILD_DIR
# The folder stays root's and readable: the server's account reads it.
set -euo pipefail
build=$1
"$build/host/regsvr" "$build/formix4/libformix4.so" >/dev/null
# The site reads request bodies in 64 KB chunks (the component's default is
# 2 KB): a deployment setting, see README.
"$build/host/reg" add 'HKLM\SOFTWARE\Venhale\Formix\4.0' /v ReadChunkSize /t REG_DWORD /d 65536
chmod -R a+rX "$PLATFORM_REGISTRY_DIR"
