#!/usr/bin/env bash
# The upload site's systemd units as deploy/systemd/install.sh installs them:
# installed into a temporary folder, with their paths pointed there, they
# pass `systemd-analyze verify` without a word, and the server's unit keeps
# its exposure (systemd-analyze security) at 2.0 or below; the registry they
# read is readable by root and the servers' account only.
#   tests/deploy/check-units.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

DESTDIR=$work/root "$here/deploy/systemd/install.sh" "$build" >/dev/null
# The registry holds the secret that signs form IDs: installed by root, other
# accounts than root and the servers' cannot read it.
if [ "$(id -u)" = 0 ] && getent group formix4 >/dev/null; then
  for file in "$work"/root/var/lib/formix4/registry/*.reg; do
    [ "$(stat -c '%G %A' "$file")" = "formix4 -rw-r-----" ] ||
      { echo "the registry file $file is $(stat -c '%G %A' "$file")" >&2; exit 1; }
  done
fi
mkdir "$work/units"
for unit in "$work"/root/etc/systemd/system/*; do
  sed "s#/opt/formix4#$work/root/opt/formix4#g; s#/etc/formix4#$work/root/etc/formix4#g" "$unit" \
    >"$work/units/$(basename "$unit")"
done
cp "$work/units/formix4-server@.service" "$work/units/formix4-server@8081.service"
cp "$work/units/formix4-server@.service" "$work/units/formix4-server@8082.service"
units=(formix4-server@8081.service formix4-redis.service formix4-haproxy.service formix4.target)

cd "$work/units"
export SYSTEMD_UNIT_PATH=$work/units:
if ! systemd-analyze verify "${units[@]}" >"$work/verify.out" 2>&1 || [ -s "$work/verify.out" ]; then
  echo "systemd-analyze verify:" >&2
  cat "$work/verify.out" >&2
  exit 1
fi
for unit in "${units[@]:0:3}"; do
  exposure=$(systemd-analyze security --offline=true "$unit" 2>/dev/null |
    grep -o 'Overall exposure level for [^:]*: [0-9.]*' | grep -o '[0-9.]*$' || true)
  echo "$unit: exposure ${exposure:-unknown}"
  [ -n "$exposure" ] || exit 1
  [ "$unit" != formix4-server@8081.service ] || awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' ||
    { echo "the server's exposure rose above 2.0" >&2; exit 1; }
done
echo "units verified"
