#!/usr/bin/env python3
"""Runs pelkor the way a user gets it, under a private Wine prefix in the
build folder: install.exe /qn installs and starts the service, which then
updates the URL it is given, until Ctrl-C (or --seconds), when install.exe
removes it again. Without --url the URL is a local stand-in for a Dynamic
DNS provider, which prints the address each update came from."""
import argparse
import pathlib
import re
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / 'tools'))
sys.path.insert(0, str(ROOT / 'tests' / 'e2e'))

import pelkor_build  # noqa: E402
import pelkor_files  # noqa: E402
import stand_in_provider  # noqa: E402
import winebox  # noqa: E402

SYSTEM = 'C:\\windows\\system32'


def installed_ini(box):
    """The settings file beside the installed service program."""
    out = box.reg_query('HKLM\\System\\CurrentControlSet\\Services\\pelkorService',
                        '/v', 'ImagePath').stdout.decode(errors='replace')
    image = re.search(r'ImagePath\s+REG_SZ\s+"?([^"\r\n]+)', out).group(1)
    return box.unix_path(image.rsplit('\\', 1)[0] + '\\pelkor.ini')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--programs', required=True, help='build tree of the programs to run')
    parser.add_argument('--url', default='')
    parser.add_argument('--seconds', type=float, default=0, help='stop after this long (0: Ctrl-C)')
    args = parser.parse_args()

    state = ROOT / 'build' / 'wine'
    state.mkdir(parents=True, exist_ok=True)
    template = state / f'template-{winebox.FLAVOUR}'
    if not (template / 'system.reg').exists():
        print('run: preparing a Wine prefix (once) ...', flush=True)
        winebox.make_template(template)
    installer = pelkor_build.make_install_exe(pathlib.Path(args.programs).resolve(), state)
    box = winebox.WineBox(template, state / f'run-{winebox.FLAVOUR}')
    provider = None
    ini = None
    try:
        url = args.url
        if not url:
            provider = stand_in_provider.Server(announce=True).start()
            url = provider.url('/nic/update?hostname=home.example.test')
            print(f'run: stand-in provider on 127.0.0.1:{provider.port}', flush=True)

        setup = box.windows_path(installer)
        result = box.run([setup, '/qn'], timeout=300)
        print(f'run: install.exe /qn ended with {result.returncode}', flush=True)
        ini = installed_ini(box)
        data = ini.read_bytes()
        ini.write_bytes(data.replace(b'\r\nurl=\r\n', b'\r\nurl=' + url.encode() + b'\r\n', 1))
        print(f'run: service installed and running; url={url}', flush=True)
        print('run: the first update comes 15 seconds after the start. Ctrl-C ends.', flush=True)

        shown = None
        deadline = time.monotonic() + args.seconds if args.seconds else None
        while deadline is None or time.monotonic() < deadline:
            line = pelkor_files.lastlog_bytes(ini)
            if line and line != shown:
                shown = line
                print('lastlog:', line.decode('cp932', errors='replace'), flush=True)
            time.sleep(0.5)
    except KeyboardInterrupt:
        pass
    finally:
        print('\nrun: removing', flush=True)
        result = box.run([box.windows_path(installer), '/qn', '/x'], timeout=300)
        print(f'run: install.exe /qn /x ended with {result.returncode}', flush=True)
        box.close()
        if provider:
            provider.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
