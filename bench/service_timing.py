#!/usr/bin/env python3
"""Time from the start request to RUNNING and from the stop control to
STOPPED, for the service under Wine's service manager, while no request is
under way (no URL set), and the stop again in the middle of a request that
a local server never answers. Measured inside Wine by the probe, which polls
the service's status every millisecond. As a yardstick for Wine's own
process start, the same run times a trivial program from start to end."""
import argparse
import pathlib
import re
import shutil
import statistics
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / 'tools'))
sys.path.insert(0, str(ROOT / 'tests' / 'e2e'))

import pelkor_files as pf  # noqa: E402
import stand_in_provider  # noqa: E402
import winebox  # noqa: E402


def stalled_stops(box, folder, probe, runs):
    """Stop times with an update under way that the server never answers:
    the update is asked for with -now, the stop comes a second later."""
    server = stand_in_provider.Server().start()
    try:
        pf.write_settings(folder / 'pelkor.ini', url=server.url('/slow/20'))
        times = []
        for _ in range(runs):
            box.run(['sc', 'start', 'pelkorService'])
            if not winebox.wait_until(lambda: box.service_state() == 4, 30):
                raise SystemExit('the service did not start')
            asked = len(server.requests)
            box.run(['C:\\pelkor\\pelkor.exe', '-now'])
            if not winebox.wait_until(lambda: len(server.requests) > asked, 10):
                raise SystemExit('no request came')
            time.sleep(1)
            out = box.run([probe, 'svcstop', 'pelkorService']).stdout.decode()
            times.append(int(re.search(r'stop=(\d+)', out).group(1)))
        return times
    finally:
        server.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--programs', required=True)
    parser.add_argument('--runs', type=int, default=10)
    args = parser.parse_args()
    programs = pathlib.Path(args.programs).resolve()
    with tempfile.TemporaryDirectory() as tmp:
        work = pathlib.Path(tmp)
        with winebox.WineBox(winebox.make_template(work / 'template'), work / 'prefix') as box:
            folder = box.unix_path('C:\\pelkor')
            folder.mkdir(parents=True)
            shutil.copy(programs / 'pelkor.exe', folder / 'pelkor.exe')
            pf.write_settings(folder / 'pelkor.ini')
            box.run(['C:\\pelkor\\pelkor.exe', '-install'])
            probe = box.windows_path(programs / 'test' / 'probe.exe')
            starts, stops, trivial = [], [], []
            for _ in range(args.runs):
                out = box.run([probe, 'svctime', 'pelkorService']).stdout.decode()
                starts.append(int(re.search(r'start=(\d+)', out).group(1)))
                stops.append(int(re.search(r'stop=(\d+)', out).group(1)))
                began = time.monotonic()
                box.run([probe])  # prints its usage and ends
                trivial.append((time.monotonic() - began) * 1000)
            stalled = stalled_stops(box, folder, probe, args.runs)
            for name, values in [('sc start -> RUNNING', starts), ('stop -> STOPPED', stops),
                                 ('stop -> STOPPED, request stalled', stalled),
                                 ('trivial program, start to end', trivial)]:
                print(f'{name}: median {statistics.median(values):.0f} ms, '
                      f'max {max(values):.0f} ms over {len(values)} runs')
    return 0


if __name__ == '__main__':
    sys.exit(main())
