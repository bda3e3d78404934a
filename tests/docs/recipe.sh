#!/usr/bin/env bash
# The firmware build of docs/integrating.md, run as written from the checkout against build-sdk
# (scripts/router-sdk.sh): the indented block under "## A firmware build", with the root file
# system in a temporary directory. What it installed must run on uClibc-ng's loader.
set -euo pipefail
cd "$(dirname "$0")/../.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk '/^## / { f = ($0 == "## A firmware build"); next } f && sub(/^    /, "")' docs/integrating.md |
  sed "s#/path/to/rootfs#$tmp/root#" >"$tmp/recipe.sh"
grep -q '^cmake -S' "$tmp/recipe.sh" || { echo "no recipe found in docs/integrating.md"; exit 1; }
rm -rf build-fw
bash -eux "$tmp/recipe.sh"
mipsel-linux-gnu-readelf -lW "$tmp/root/usr/bin/brim_init" | grep -q 'interpreter: /lib/ld-uClibc.so.0'
mipsel-linux-gnu-readelf -dW "$tmp/root/usr/lib/libbrim.so.0" | grep -q 'NEEDED.*\[libc\.so\.0\]'
echo "the recipe of docs/integrating.md built and installed brim_init and libbrim.so.0 for uClibc-ng"
