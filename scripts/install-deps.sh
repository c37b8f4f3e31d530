#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing,
# the PAM service "formix" that XForm.SetUser logs accounts on with, and the
# system account formix4 that the server runs its pages as.
set -euo pipefail

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

if [ ! -e /etc/pam.d/formix ]; then
  printf '%s\n' '# Formix4 impersonation: password and account checks of local accounts.' \
    'auth     required pam_unix.so' 'account  required pam_unix.so' |
    "${sudo_cmd[@]}" tee /etc/pam.d/formix >/dev/null
fi

packages=(g++ cmake ninja-build pkg-config patch libgtest-dev libgmock-dev libcivetweb-dev libssl-dev duktape-dev curl libhiredis-dev redis-server haproxy supervisor systemd
          qt6-base-dev qt6-webengine-dev libqt6webenginecore6-bin fonts-dejavu-core
          xvfb xauth x11-utils libpam0g-dev passwd chromium python3 ccache clang-format)
# The browser test runs playwright-core from npm with the machine's Node.js.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The account formix4-server runs its pages as once it has bound its port
# (useradd comes with the package passwd, installed above).
if ! getent passwd formix4 >/dev/null; then
  "${sudo_cmd[@]}" useradd --system --user-group --no-create-home --home-dir /nonexistent \
    --shell /usr/sbin/nologin formix4
fi
