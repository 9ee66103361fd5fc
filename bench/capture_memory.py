#!/usr/bin/env python3
"""Peak memory of the worker host under Wine while it captures a 1 MB and a
64 MB body from the local server. The body is streamed to the capture file,
so the two peaks should differ by less than 1 MB; with --okbody the success
text is searched for as the body streams, and the peaks must stay as flat."""
import argparse
import pathlib
import shutil
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / 'tools'))
sys.path.insert(0, str(ROOT / 'tests' / 'e2e'))

import pelkor_files as pf  # noqa: E402
import stand_in_provider  # noqa: E402
import winebox  # noqa: E402


def peak_kib(pid):
    for line in pathlib.Path(f'/proc/{pid}/status').read_text().splitlines():
        if line.startswith('VmHWM:'):
            return int(line.split()[1])
    raise RuntimeError('no VmHWM')


def measure(template, work, programs, server, size, okbody):
    with winebox.WineBox(template, work / f'prefix-{size}') as box:
        folder = box.unix_path('C:\\pelkor')
        folder.mkdir(parents=True)
        shutil.copy(programs / 'test' / 'workerhost_fasttick.exe', folder / 'pelkor.exe')
        optional = {'okbody': okbody} if okbody else {}
        pf.write_settings(folder / 'pelkor.ini', url=server.url(f'/body/{size}'), log=1, timeout=60,
                          **optional)
        stderr = work / f'stderr-{size}.log'
        process = box.popen(['C:\\pelkor\\pelkor.exe'], stderr)
        done = winebox.wait_until(
            lambda: {pf.FETCHED, pf.NOT_SUCCESS} & {i for _, i in winebox.reported_events(
                stderr.read_text(errors='replace'))}, 300)
        if not done:
            raise RuntimeError(f'no capture of {size} bytes within 300 s')
        peak = peak_kib(process.pid)
        captured = (folder / 'pelkor.txt').stat().st_size
        process.stdin.close()
        process.wait(timeout=60)
        assert captured == size, (captured, size)
        return peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--programs', required=True)
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--okbody', default='',
                        help='success text to look for (a text the pattern body lacks: '
                             'the search runs to the end)')
    args = parser.parse_args()
    programs = pathlib.Path(args.programs).resolve()
    with tempfile.TemporaryDirectory() as tmp:
        work = pathlib.Path(tmp)
        template = winebox.make_template(work / 'template')
        server = stand_in_provider.Server().start()
        try:
            for run in range(args.runs):
                small = measure(template, work, programs, server, 1 << 20, args.okbody)
                large = measure(template, work, programs, server, 64 << 20, args.okbody)
                print(f'run {run + 1}: peak RSS 1 MB body {small} KiB, 64 MB body {large} KiB, '
                      f'difference {large - small} KiB', flush=True)
        finally:
            server.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
