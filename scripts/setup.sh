#!/usr/bin/env bash
# Installs what the build and the tests need, only when something is missing.
set -euo pipefail
need=()
# file and lintian: building (CPack's library dependencies) and checking the
# Debian package.
for p in build-essential cmake libgtest-dev firebird-dev libfbclient2 firebird3.0-server-core \
         firebird3.0-utils firebird3.0-server clang-format clang libclang-rt-14-dev file lintian; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
