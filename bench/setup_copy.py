#!/usr/bin/env python3
"""Copy rate of setup's build and extract modes on a 256 MB package, against
the same 32 KB ReadFile/WriteFile loop in a trivial Windows program under
the same Wine (copy_loop, the fair yardstick), in the same run. Each
program's time on an empty file is taken off, which removes Wine's
start-up. For reference, `dd bs=32k` (the same loop natively) and `cp`
(which copies in the kernel, as no Windows program under Wine can). Peak
memory is sampled while setup runs, for the small and the large package."""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / 'tools'))

import winebox  # noqa: E402

SIZE = 256 << 20


def timed_run(box, args):
    """(seconds, peak resident KiB) of one run of a Windows program."""
    env = dict(box.env)
    os.sync()  # no run pays for the write-back of the one before
    began = time.monotonic()
    process = subprocess.Popen([winebox.WINE] + args, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while process.poll() is None:
        try:
            for line in pathlib.Path(f'/proc/{process.pid}/status').read_text().splitlines():
                if line.startswith('VmRSS:'):
                    peak = max(peak, int(line.split()[1]))
        except (FileNotFoundError, ProcessLookupError):
            pass
        time.sleep(0.005)
    return time.monotonic() - began, peak


def native_time(command):
    os.sync()
    began = time.monotonic()
    subprocess.run(command, check=True)
    return time.monotonic() - began


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--programs', required=True)
    parser.add_argument('--runs', type=int, default=3)
    args = parser.parse_args()
    programs = pathlib.Path(args.programs).resolve()
    with tempfile.TemporaryDirectory(dir=ROOT / 'build') as tmp:
        work = pathlib.Path(tmp)
        with winebox.WineBox(winebox.make_template(work / 'template'), work / 'prefix') as box:
            folder = box.unix_path('C:\\dl')
            folder.mkdir(parents=True)
            shutil.copy(programs / 'setup.exe', folder / 'setup.exe')
            shutil.copy(programs / 'test' / 'copy_loop.exe', folder / 'copy_loop.exe')
            with open(folder / 'big.msi', 'wb') as f:
                block = os.urandom(1 << 20)
                for _ in range(SIZE >> 20):
                    f.write(block)
            (folder / 'empty.msi').write_bytes(b'')
            for run in range(args.runs):
                for name in ('big.exe', 'empty.exe', 'big.msi.copy', 'loop.out', 'empty.out'):
                    (folder / name).unlink(missing_ok=True)
                big_create, big_peak = timed_run(box, ['C:\\dl\\setup.exe', '/create', 'C:\\dl\\big.msi'])
                empty_create, empty_peak = timed_run(box, ['C:\\dl\\setup.exe', '/create', 'C:\\dl\\empty.msi'])
                (folder / 'big.msi').rename(folder / 'big.msi.source')
                big_extract, _ = timed_run(box, ['C:\\dl\\big.exe', '/extract'])
                empty_extract, _ = timed_run(box, ['C:\\dl\\empty.exe', '/extract'])
                (folder / 'big.msi').unlink()
                (folder / 'big.msi.source').rename(folder / 'big.msi')
                big_loop, _ = timed_run(box, ['C:\\dl\\copy_loop.exe', 'C:\\dl\\big.msi', 'C:\\dl\\loop.out'])
                empty_loop, _ = timed_run(box, ['C:\\dl\\copy_loop.exe', 'C:\\dl\\empty.msi',
                                                'C:\\dl\\empty.out'])
                assert (folder / 'loop.out').stat().st_size == SIZE
                (folder / 'loop.out').unlink()
                dd_time = native_time(['dd', f'if={folder / "big.msi"}', f'of={folder / "loop.out"}',
                                       'bs=32k', 'status=none'])
                cp_time = native_time(['cp', str(folder / 'big.msi'), str(folder / 'big.msi.copy')])
                mb = SIZE / (1 << 20)
                loop_rate = mb / max(big_loop - empty_loop, 1e-6)
                create_rate = mb / max(big_create - empty_create, 1e-6)
                extract_rate = mb / max(big_extract - empty_extract, 1e-6)
                print(f'run {run + 1}: copy_loop {loop_rate:.0f} MB/s; /create {create_rate:.0f} MB/s '
                      f'({create_rate / loop_rate:.2f} of copy_loop); /extract {extract_rate:.0f} MB/s '
                      f'({extract_rate / loop_rate:.2f} of copy_loop); native dd bs=32k '
                      f'{mb / dd_time:.0f} MB/s, cp {mb / cp_time:.0f} MB/s; peak RSS of /create: '
                      f'empty package {empty_peak} KiB, 256 MB package {big_peak} KiB', flush=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
