#!/bin/sh
# Installs what building and testing need on Debian 12, when it is missing.
set -e

packages="make cmake g++ python3 python3-pytest python3-pytest-timeout libgtest-dev
g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
wine wine64 msitools wixl
xvfb x11-utils imagemagick fonts-ipafont-gothic tesseract-ocr tesseract-ocr-jpn locales"

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
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ -n "$missing" ]; then
    echo "install-deps: installing$missing"
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
fi

# The wizard's test runs Wine as a Japanese system (code page 932).
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    echo "install-deps: generating the ja_JP.UTF-8 locale"
    $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen
fi
