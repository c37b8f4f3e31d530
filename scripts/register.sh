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
# The secret that signs the form IDs the site hands to its visitors, made
# once: every server reading this registry recognises every form, whichever
# server handed it out, across restarts (a new secret would orphan the
# forms visitors have open).
site_key='HKLM\SOFTWARE\Venhale\Formix4Site'
if ! "$build/host/reg" query "$site_key" /v FormSecret >/dev/null 2>&1; then
  "$build/host/reg" add "$site_key" /v FormSecret /t REG_SZ /d "$(od -An -N32 -tx1 /dev/urandom | tr -d ' \n')" >/dev/null
fi
chmod -R a+rX "$PLATFORM_REGISTRY_DIR"
