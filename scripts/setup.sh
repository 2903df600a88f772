#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine, only
# the packages that are missing. Safe to run again.
set -euo pipefail

# gnu-efi: the headers tests/facts/ holds platform/ against; llvm-14: the
# disassembler of the image checks (tests/image/); u-boot-qemu: the second
# firmware of the end-to-end suite; sbsigntool and openssl: the images
# signed for the Secure Boot runs.
packages=(
  clang clang-14 lld lld-14 llvm-14 cmake ninja-build libgtest-dev libclang-rt-14-dev
  gnu-efi
  clang-tidy cppcheck
  qemu-system-x86 ovmf u-boot-qemu mtools python3-pyte sbsigntool openssl
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
