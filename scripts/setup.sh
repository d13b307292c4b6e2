#!/usr/bin/env bash
# Installs what building and testing pyorvik needs on a fresh Debian machine:
# the system packages (compilers' libraries, GoogleTest, libcurl, OpenSSL,
# libxml2, and Ceph for the quoll:// tests) and a virtual environment in
# .venv with the Python tools.
# Safe to run again: it installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

SYSTEM_PACKAGES=(g++ make libgtest-dev libgmock-dev libcurl4-openssl-dev
                 libssl-dev libxml2-dev python3-dev python3-venv
                 # the RADOS Gateway of the quoll:// tests (tests/quoll/rgw.sh)
                 ceph-mon ceph-osd ceph-mgr radosgw ceph-common uuid-runtime curl openssl)
if [[ -n "${OVK_EXTRA_APT:-}" ]]; then
  read -r -a extra <<<"$OVK_EXTRA_APT"
  SYSTEM_PACKAGES+=("${extra[@]}")
fi

missing=()
for pkg in "${SYSTEM_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$pkg")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

PYTHON=${PYTHON:-python3}
if [[ ! -x .venv/bin/python ]]; then
  "$PYTHON" -m venv .venv
fi
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q -r scripts/requirements-dev.txt
