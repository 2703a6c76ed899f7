#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for building and testing, by
# package name, and nothing that is already there. Extra package names may be
# given as arguments (CI adds the peers and tools of its later stages).
set -euo pipefail

# ncompress: the bench's reference peer, which its tests run too.
wanted=(cmake g++ make libgtest-dev libbenchmark-dev ncompress "$@")
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
