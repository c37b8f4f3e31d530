#!/usr/bin/env bash
# Registers the component into the registry folder $PLATFORM_REGISTRY_DIR
# with the site's settings, as the main job runs it, from a build tree or
# from an installed prefix (bin/, lib/):
#   scripts/register.sh BUILD_DIR | PREFIX
set -euo pipefail
if [ -x "$1/bin/regsvr" ]; then
  tools=$1/bin library=$1/lib/libformix4.so
else
  tools=$1/host library=$1/formix4/libformix4.so
fi
"$tools/regsvr" "$library" >/dev/null
# The site reads request bodies in 64 KB chunks (the component's default is
# 2 KB): a deployment setting, see README.
"$tools/reg" add 'HKLM\SOFTWARE\Venhale\Formix\4.0' /v ReadChunkSize /t REG_DWORD /d 65536 >/dev/null
# The secret that signs the form IDs the site hands to its visitors, made
# once: every server reading this registry recognises every form, whichever
# server handed it out, across restarts (a new secret would orphan the
# forms visitors have open).
site_key='HKLM\SOFTWARE\Venhale\Formix4Site'
if ! "$tools/reg" query "$site_key" /v FormSecret >/dev/null 2>&1; then
  "$tools/reg" add "$site_key" /v FormSecret /t REG_SZ /d "$(od -An -N32 -tx1 /dev/urandom | tr -d ' \n')" >/dev/null
fi
# The registry holds that secret: as root, the folder is root's and only the
# servers' account (formix4, which pages run as) may read it besides; a
# folder of another user's stays readable, for a server that user starts.
if [ "$(id -u)" = 0 ] && getent group formix4 >/dev/null; then
  chown -R root:formix4 "$PLATFORM_REGISTRY_DIR"
  chmod -R u+rwX,g+rX,g-w,o-rwx "$PLATFORM_REGISTRY_DIR"
else
  chmod -R a+rX "$PLATFORM_REGISTRY_DIR"
fi
