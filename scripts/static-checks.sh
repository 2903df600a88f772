#!/usr/bin/env bash
# Static checks of the product and simulator sources (platform/, chip/,
# update/, app/, sim/): clang-tidy with the checks .clang-tidy names, on the
# compile commands of a host build (build-tidy, configured only), then
# cppcheck. Any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-tidy
dirs=(platform chip update app sim)

# The firmware-only sources have host compile commands too (zk48_firmware_only).
cmake -S . -B "$build" -G Ninja -DZK48_EFI=OFF >/dev/null
mapfile -t sources < <(find "${dirs[@]}" -name '*.cpp' | sort)
for source in "${sources[@]}"; do
  grep -q "\"file\": \"$PWD/$source\"" "$build/compile_commands.json" || { echo "no compile command for $source" >&2; exit 1; }
done

start=$SECONDS
echo "clang-tidy: ${#sources[@]} sources"
if ! printf '%s\n' "${sources[@]}" |
     xargs -P 2 -n 1 clang-tidy -p "$build" --quiet --header-filter="^$PWD/(platform|chip|update|app|sim)/" 2>&1 |
     { grep -v '^[0-9]* warnings\? generated\.$' || true; }; then
  echo "clang-tidy: findings above" >&2
  exit 1
fi
echo "clang-tidy: clean in $((SECONDS - start)) s"

start=$SECONDS
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr --std=c++20 --language=c++ \
  -I . -j 2 -q "${dirs[@]}"
echo "cppcheck: clean in $((SECONDS - start)) s"
