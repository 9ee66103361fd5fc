#!/bin/sh
# Installs what building and testing need on Debian 12, when it is missing.
set -e

packages="make cmake g++ python3 python3-pytest libgtest-dev
g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
wine wine64 msitools wixl"

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
# The 32-bit Wine loader, for hosts that can run 32-bit programs.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    missing="$missing wine32:i386"
elif ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; then
    missing="$missing wine32:i386"
fi
[ -z "$missing" ] && exit 0

echo "install-deps: installing$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
