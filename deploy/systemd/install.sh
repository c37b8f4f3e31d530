#!/usr/bin/env bash
# Installs the upload site as services on this machine (as root):
#   deploy/systemd/install.sh BUILD_DIR
# - the site's programs, component and pages under /opt/formix4
#   (cmake --install, component "site"); uploads in /opt/formix4/site/uploads,
#   owned by the account formix4 (scripts/install-deps.sh creates it)
# - the component registered in /var/lib/formix4/registry, with the site's
#   settings and ProgressStore naming the Redis of formix4-redis.service
# - the units of this folder in /etc/systemd/system, and /etc/formix4/cluster.env
#   (ports, the servers' further options) when there is none yet.
# Then: systemctl enable --now formix4.target
# DESTDIR=DIR installs into DIR instead (for checks), with the component
# registered as found there, and leaves systemd and owners alone.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
root=${DESTDIR:-}
prefix=/opt/formix4
registry=$root/var/lib/formix4/registry

DESTDIR=$root cmake --install "$build" --prefix "$prefix" --component site >/dev/null
mkdir -p "$root$prefix/site/uploads" "$registry" "$root/etc/formix4" "$root/etc/systemd/system"
[ -n "$root" ] || chown formix4:formix4 "$prefix/site/uploads"

export PLATFORM_REGISTRY_DIR=$registry
"$root$prefix/bin/reg" add 'HKLM\SOFTWARE\Venhale\Formix\4.0' /v ProgressStore /t REG_SZ \
  /d redis://127.0.0.1:6380/0 >/dev/null
"$here/../../scripts/register.sh" "$root$prefix"

install -m 0644 "$here"/formix4-server@.service "$here"/formix4-redis.service "$here"/formix4-haproxy.service \
  "$here"/formix4.target "$root/etc/systemd/system/"
[ -e "$root/etc/formix4/cluster.env" ] || install -m 0644 "$here/cluster.env" "$root/etc/formix4/cluster.env"
if [ -z "$root" ] && [ -d /run/systemd/system ]; then systemctl daemon-reload; fi
echo "Installed under $root$prefix; start with: systemctl enable --now formix4.target"
