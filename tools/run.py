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

import pelkor_build  # noqa: E402
import pelkor_files  # noqa: E402
import stand_in_provider  # noqa: E402
import winebox  # noqa: E402

SYSTEM = 'C:\\windows\\system32'


class RunFailed(Exception):
    pass


def installed_ini(box):
    """The settings file beside the installed service program."""
    out = box.reg_query('HKLM\\System\\CurrentControlSet\\Services\\pelkorService',
                        '/v', 'ImagePath').stdout.decode(errors='replace')
    match = re.search(r'ImagePath\s+REG_SZ\s+"?([^"\r\n]+)', out)
    if not match:
        raise RunFailed(f'the installation registered no service program:\n{out}')
    return box.unix_path(match.group(1).rsplit('\\', 1)[0] + '\\pelkor.ini')


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
    programs = pathlib.Path(args.programs).resolve()
    installer = pelkor_build.make_install_exe(programs, state)
    box = winebox.WineBox(template, state / f'run-{winebox.FLAVOUR}')
    provider = None
    installed = False
    status = 0
    try:
        url = args.url
        if not url:
            provider = stand_in_provider.Server(announce=True).start()
            url = provider.url('/nic/update?hostname=home.example.test')
            print(f'run: stand-in provider on 127.0.0.1:{provider.port}', flush=True)

        code = box.run_setup(programs, installer, '/qn', timeout=300)
        print(f'run: install.exe /qn ended with {code}', flush=True)
        installed = True
        if code != 0:
            raise RunFailed(f'install.exe /qn failed with exit code {code}; the services\' '
                            f'trace is {box.trace_path}')
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
    except RunFailed as failure:
        print(f'run: {failure}', file=sys.stderr, flush=True)
        status = 1
    finally:
        if installed:
            print('\nrun: removing', flush=True)
            code = box.run_setup(programs, installer, '/qn', '/x', timeout=300)
            print(f'run: install.exe /qn /x ended with {code}', flush=True)
        box.close()
        if provider:
            provider.stop()
    return status


if __name__ == '__main__':
    sys.exit(main())
