#!/usr/bin/env python3
"""Makes a setup file the way `setup /create` does, without running setup:
the stub, zeros up to the package offset, then the package.

usage: make_setup_file.py STUB PACKAGE OUTPUT
(The build uses it because the shipped 32-bit setup cannot run on every
build host; a test proves it gives the bytes that setup's own build mode
gives.)"""
import sys

PACKAGE_OFFSET = 61440


def main():
    stub_path, package_path, output_path = sys.argv[1:4]
    with open(stub_path, 'rb') as f:
        stub = f.read()
    if len(stub) >= PACKAGE_OFFSET:
        sys.exit(f'{stub_path}: {len(stub)} bytes, not below the package offset {PACKAGE_OFFSET}')
    with open(package_path, 'rb') as source, open(output_path, 'wb') as out:
        out.write(stub)
        out.write(bytes(PACKAGE_OFFSET - len(stub)))
        while True:
            block = source.read(1 << 20)
            if not block:
                break
            out.write(block)
    return 0


if __name__ == '__main__':
    sys.exit(main())
