#!/usr/bin/env bash
# Installs those of the Debian packages named as arguments that are not
# installed yet, with apt-get (through sudo unless run as root):
#   scripts/install-deps.sh g++ cmake ...
set -euo pipefail

missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q ' installed$' || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

SUDO=()
[ "$(id -u)" = 0 ] || SUDO=(sudo)
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
