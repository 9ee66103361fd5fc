#!/usr/bin/env python3
"""Runs pelkor the way a user does, under a private Wine prefix in the build
folder: installs the service, starts it and shows what it does, until
Ctrl-C (or --seconds). Without --url it updates a local stand-in for a
Dynamic DNS provider, which prints the address each update came from."""
import argparse
import pathlib
import shutil
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / 'tools'))
sys.path.insert(0, str(ROOT / 'tests' / 'e2e'))

import pelkor_files  # noqa: E402
import stand_in_provider  # noqa: E402
import winebox  # noqa: E402

SYSTEM = 'C:\\windows\\system32'


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
    box = winebox.WineBox(template, state / f'run-{winebox.FLAVOUR}')
    provider = None
    try:
        url = args.url
        if not url:
            provider = stand_in_provider.Server(announce=True).start()
            url = provider.url('/nic/update?hostname=home.example.test')
            print(f'run: stand-in provider on 127.0.0.1:{provider.port}', flush=True)

        system = box.unix_path(SYSTEM)
        shutil.copy(pathlib.Path(args.programs) / 'pelkor.exe', system / 'pelkor.exe')
        ini = system / 'pelkor.ini'
        template_ini = (ROOT / 'resources' / 'pelkor.ini').read_bytes()
        ini.write_bytes(template_ini.replace(b'\r\nurl=\r\n', b'\r\nurl=' + url.encode() + b'\r\n'))
        print(f'run: url={url}', flush=True)

        result = box.run([SYSTEM + '\\pelkor.exe', '-install'])
        print('pelkor -install:', result.stdout.decode(errors='replace').strip(), flush=True)
        box.run(['sc', 'start', 'pelkorService'])
        print('run: service started; the first update comes after 15 seconds. Ctrl-C ends.',
              flush=True)

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
        print('\nrun: stopping', flush=True)
        result = box.run([SYSTEM + '\\pelkor.exe', '-remove'], timeout=120)
        print('pelkor -remove:', result.stdout.decode(errors='replace').strip(), flush=True)
        line = pelkor_files.lastlog_bytes(box.unix_path(SYSTEM + '\\pelkor.ini'))
        if line:
            print('lastlog:', line.decode('cp932', errors='replace'))
        box.close()
        if provider:
            provider.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
