#!/usr/bin/env bash
# Installs the Debian packages kurv needs to build and test, only those missing;
# further packages named on the command line are added (the test command adds
# clang and its libFuzzer runtime for the fuzzing run).
set -euo pipefail
packages=(build-essential cmake libopenblas-dev libgtest-dev libgmock-dev libbenchmark-dev
          libreadstat-dev libcli11-dev nlohmann-json3-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
