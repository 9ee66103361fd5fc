#!/usr/bin/env python3
"""Resident and private memory of the running service under Wine, less those
of a trivial service that only reports RUNNING and sleeps: what pelkor itself
costs on top of Wine's own share of every process. Both services run in one
prefix at the same time; the figures are read from /proc of each service's
Wine process (VmRSS from status, Private_* from smaps_rollup) after they
have settled: with no URL set (no request under way), or with --records N,
once each of N records has sent its update to a local stand-in provider."""
import argparse
import pathlib
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

SETTLE_S = 5


def wine_process(exe_name, prefix):
    """The Linux pid of the Wine process running exe_name in prefix."""
    for proc in pathlib.Path('/proc').iterdir():
        if not proc.name.isdigit():
            continue
        try:
            cmdline = (proc / 'cmdline').read_bytes().lower()
            environ = (proc / 'environ').read_bytes()
        except OSError:
            continue
        if exe_name.lower().encode() in cmdline and f'WINEPREFIX={prefix}'.encode() in environ:
            return proc
    return None


def memory_kib(proc):
    """(VmRSS, Private_Clean + Private_Dirty) in KiB."""
    rss = private = 0
    for line in (proc / 'status').read_text().splitlines():
        if line.startswith('VmRSS:'):
            rss = int(line.split()[1])
    for line in (proc / 'smaps_rollup').read_text().splitlines():
        if line.startswith(('Private_Clean:', 'Private_Dirty:')):
            private += int(line.split()[1])
    return rss, private


def write_records(ini, server, records):
    """Settings with records 1 to records, each with a URL of its own."""
    if not records:
        pf.write_settings(ini)
        return
    pf.write_settings(ini, url=server.url('/nic/update?record=1'))
    for number in range(2, records + 1):
        pf.add_record(ini, number, url=server.url(f'/nic/update?record={number}'))


def all_updated(ini, records):
    keys = ['lastlog'] + [f'lastlog{n}' for n in range(2, records + 1)]
    return all(pf.lastlog_text(ini, key) == pf.TEXTS[pf.FETCHED] for key in keys)


def measure(programs, pelkor, template, prefix, records, server):
    with winebox.WineBox(template, prefix) as box:
        folder = box.unix_path('C:\\pelkor')
        folder.mkdir(parents=True)
        shutil.copy(pelkor, folder / 'pelkor.exe')
        shutil.copy(programs / 'test' / 'sleeping_service.exe', folder / 'sleeper.exe')
        write_records(folder / 'pelkor.ini', server, records)
        box.run(['C:\\pelkor\\pelkor.exe', '-install'])
        box.run(['sc', 'create', 'sleeperService', 'binpath=', 'C:\\pelkor\\sleeper.exe'])
        for name in ('pelkorService', 'sleeperService'):
            box.run(['sc', 'start', name], timeout=60)
        if records and not winebox.wait_until(lambda: all_updated(folder / 'pelkor.ini', records), 60):
            raise SystemExit('not every record was updated')
        time.sleep(SETTLE_S)
        figures = {}
        for exe in ('pelkor.exe', 'sleeper.exe'):
            proc = wine_process(exe, box.prefix)
            if proc is None:
                raise SystemExit(f'{exe} is not running')
            figures[exe] = memory_kib(proc)
        for name in ('pelkorService', 'sleeperService'):
            box.run(['sc', 'stop', name], timeout=60)
        return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--programs', required=True)
    parser.add_argument('--pelkor', help='another pelkor.exe to measure (default: the programs\')')
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--records', type=int, default=0,
                        help='records with a URL, each updated once before measuring (0: no URL)')
    args = parser.parse_args()
    programs = pathlib.Path(args.programs).resolve()
    pelkor = pathlib.Path(args.pelkor).resolve() if args.pelkor else programs / 'pelkor.exe'
    rss, private = [], []
    server = stand_in_provider.Server().start()
    with tempfile.TemporaryDirectory() as tmp:
        template = winebox.make_template(pathlib.Path(tmp) / 'template')
        for run in range(args.runs):
            figures = measure(programs, pelkor, template, pathlib.Path(tmp) / f'prefix{run}',
                              args.records, server)
            (p_rss, p_private), (s_rss, s_private) = figures['pelkor.exe'], figures['sleeper.exe']
            print(f'run {run + 1}: pelkor {p_rss} KiB resident, {p_private} KiB private; '
                  f'sleeper {s_rss} KiB, {s_private} KiB', flush=True)
            rss.append(p_rss - s_rss)
            private.append(p_private - s_private)
    server.stop()
    print(f'pelkor less the sleeping service: resident median {statistics.median(rss):.0f} KiB, '
          f'private median {statistics.median(private):.0f} KiB over {len(rss)} runs')
    return 0


if __name__ == '__main__':
    sys.exit(main())
