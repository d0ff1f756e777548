#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing, and says which.
# Usage: tools/install-deps.sh [EXTRA-PACKAGE ...]
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libfmt-dev libcli11-dev zlib1g-dev libgtest-dev libgmock-dev libicu-dev libssl-dev libre2-dev qt6-base-dev dbus-daemon clang-format clang-tidy "$@")

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
