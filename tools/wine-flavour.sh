#!/bin/sh
# Prints which Wine the end-to-end tests can use here: win32 when this host
# runs 32-bit Linux programs itself (so the 32-bit programs run as shipped),
# else win64 (a 64-bit build of the same sources). PELKOR_WINE_FLAVOUR
# overrides the choice.
if [ -n "$PELKOR_WINE_FLAVOUR" ]; then
    echo "$PELKOR_WINE_FLAVOUR"
elif /lib/ld-linux.so.2 --version >/dev/null 2>&1 &&
     ! grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
    echo win32
else
    echo win64
fi
