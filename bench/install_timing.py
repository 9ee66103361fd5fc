#!/usr/bin/env python3
"""Time of install.exe /qn and install.exe /qn /x against a bare msiexec of
the same package, in the same Wine prefix and the same run: the bootstrapper
should add no more than 10% (its copy of the package is its only work)."""
import argparse
import pathlib
import statistics
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / 'tools'))

import pelkor_build  # noqa: E402
import winebox  # noqa: E402


def timed(box, args):
    began = time.monotonic()
    result = box.run(args, timeout=300)
    if result.returncode != 0:
        raise RuntimeError(f'{args}: exit {result.returncode}')
    return time.monotonic() - began


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--programs', required=True)
    parser.add_argument('--runs', type=int, default=5)
    args = parser.parse_args()
    programs = pathlib.Path(args.programs).resolve()
    with tempfile.TemporaryDirectory() as tmp:
        work = pathlib.Path(tmp)
        setup_file = pelkor_build.make_install_exe(programs, work)
        package = work / 'install.msi'
        with winebox.WineBox(winebox.make_template(work / 'template'), work / 'prefix') as box:
            msi, exe = box.windows_path(package), box.windows_path(setup_file)
            times = {name: [] for name in ('install.exe /qn', 'msiexec /i /qn',
                                           'install.exe /qn /x', 'msiexec /x /qn')}
            for _ in range(args.runs):
                times['install.exe /qn'].append(timed(box, [exe, '/qn']))
                times['install.exe /qn /x'].append(timed(box, [exe, '/qn', '/x']))
                times['msiexec /i /qn'].append(timed(box, ['msiexec', '/i', msi, '/qn']))
                times['msiexec /x /qn'].append(timed(box, ['msiexec', '/x', msi, '/qn']))
            medians = {name: statistics.median(values) for name, values in times.items()}
            for name, values in times.items():
                print(f'{name}: median {medians[name]:.2f} s, min {min(values):.2f} s, '
                      f'max {max(values):.2f} s over {len(values)} runs')
            for setup_name, bare_name in (('install.exe /qn', 'msiexec /i /qn'),
                                          ('install.exe /qn /x', 'msiexec /x /qn')):
                print(f'{setup_name} / {bare_name}: {medians[setup_name] / medians[bare_name]:.3f}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
