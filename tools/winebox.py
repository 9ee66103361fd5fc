"""Private Wine prefixes for running the Windows programs: one template made
with wineboot, copied for each scenario, each copy with a wineserver of its
own that stays up for the life of the box.
"""
import os
import pathlib
import re
import shutil
import subprocess
import time

# Wine's stub event log prints each ReportEventA as a fixme line:
# fixme:advapi:ReportEventA (handle,type,category,id,sid,nstrings,datasize,...)
REPORT_EVENT = re.compile(
    r'fixme:advapi:ReportEventA \((?:0x)?[0-9a-fA-F]+,(?:0x)?([0-9a-fA-F]+),'
    r'(?:0x)?[0-9a-fA-F]+,(?:0x)?([0-9a-fA-F]+)')

# Which Wine runs the programs: 'win32' (the 32-bit programs as shipped,
# under a 32-bit prefix) or 'win64' (a 64-bit build of the same sources,
# for hosts that cannot run 32-bit Wine).
FLAVOUR = os.environ.get('PELKOR_WINE_FLAVOUR', 'win32')
if FLAVOUR == 'win64':
    WINE, WINESERVER = '/usr/lib/wine/wine64', '/usr/lib/wine/wineserver64'
else:
    WINE, WINESERVER = 'wine', 'wineserver'
SERVICE = 'pelkorService'


def base_env(prefix):
    env = dict(os.environ)
    env.update({
        'WINEPREFIX': str(prefix),
        'WINEARCH': FLAVOUR,
        'WINEDLLOVERRIDES': 'mscoree,mshtml=',  # no Mono or Gecko installers
        'WINEDEBUG': '-all',
    })
    env.pop('DISPLAY', None)
    return env


def make_template(prefix, timeout=300):
    """A fresh, fully booted prefix at path prefix."""
    prefix = pathlib.Path(prefix)
    if prefix.exists():
        shutil.rmtree(prefix)
    env = base_env(prefix)
    subprocess.run([WINE, 'wineboot', '-i'], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout,
                   check=True)
    subprocess.run([WINESERVER, '-w'], env=env, timeout=timeout, check=False)
    return prefix


class WineBox:
    """One prefix copied from a template, with its own wineserver session."""

    def __init__(self, template, prefix, debug='+pid,fixme+advapi', env=None):
        self.prefix = pathlib.Path(prefix)
        # env: settings of the whole session, such as DISPLAY and LANG.
        self.env = dict(base_env(self.prefix), **(env or {}))
        self.trace_path = self.prefix.parent / (self.prefix.name + '-trace.log')
        self.processes = []
        try:
            if self.prefix.exists():
                shutil.rmtree(self.prefix)
            subprocess.run(['cp', '-a', str(template), str(self.prefix)], check=True)
            # Keep the session up between commands; the first command of the
            # session starts services.exe, whose debug channels and stderr every
            # service inherits, so give it the trace file.
            subprocess.run([WINESERVER, '-p'], env=self.env, check=True, timeout=60)
            with open(self.trace_path, 'wb') as trace:
                subprocess.run([WINE, 'cmd', '/c', 'exit', '0'], env=dict(self.env, WINEDEBUG=debug),
                               stdin=subprocess.DEVNULL, stdout=trace, stderr=trace, timeout=120)
        except BaseException:
            # No with block will close a box that never started: its prefix
            # and wineserver would stay behind.
            self.close()
            raise

    def unix_path(self, windows_path):
        """C:\\x\\y -> <prefix>/drive_c/x/y"""
        drive, rest = windows_path.split(':', 1)
        assert drive.upper() == 'C'
        return self.prefix / 'drive_c' / rest.replace('\\', '/').lstrip('/')

    @staticmethod
    def windows_path(unix_path):
        """/x/y -> Z:\\x\\y, Wine's drive for the Linux root."""
        return 'Z:' + str(unix_path).replace('/', '\\')

    def run(self, args, timeout=60, debug=None, env=None, **kwargs):
        env = dict(self.env, **(env or {}))
        if debug:
            env['WINEDEBUG'] = debug
        return subprocess.run([WINE] + list(args), env=env, timeout=timeout,
                              stdin=kwargs.pop('stdin', subprocess.DEVNULL),
                              capture_output=True, **kwargs)

    def reg_query(self, key, *args):
        """`reg query` of a key (with further reg arguments): the result,
        returncode 0 when the key is there. reg now and then fails on a key
        that is there; only its own word that the key is missing counts."""
        for _ in range(3):
            result = self.run(['reg', 'query', key] + list(args))
            if result.returncode == 0 or b'Unable to find' in result.stdout + result.stderr:
                break
        return result

    def exit_code(self, programs, command_line, timeout=60, env=None):
        """The whole 32-bit exit code of a command line, through the probe of
        the build tree programs (the shell sees only its low byte)."""
        probe = self.windows_path(pathlib.Path(programs) / 'test' / 'probe.exe')
        out = self.run([probe, 'exitcode', command_line], timeout=timeout, env=env).stdout.decode()
        match = re.search(r'exitcode=(\d+)', out)
        assert match, f'the probe gave no exit code for {command_line!r}: {out!r}'
        return int(match.group(1))

    def run_setup(self, programs, setup_file, *args, timeout=180):
        """Runs a setup file (a Linux path) with arguments; its whole exit code."""
        return self.exit_code(programs, ' '.join([self.windows_path(setup_file)] + list(args)),
                              timeout=timeout)

    def service_state(self, name=SERVICE):
        """The state number sc reports for a service, None when there is none."""
        match = re.search(rb'STATE\s+:\s+(\d+)', self.run(['sc', 'query', name]).stdout)
        return int(match.group(1)) if match else None

    def reg_value(self, programs, key, name):
        """(type, size, data) of a value under HKLM as the probe reads it, or None."""
        probe = self.windows_path(pathlib.Path(programs) / 'test' / 'probe.exe')
        out = self.run([probe, 'regvalue', key, name]).stdout.decode()
        match = re.match(r'type=(\d+) size=(\d+) data=([0-9A-F]*)', out)
        return (int(match.group(1)), int(match.group(2)), bytes.fromhex(match.group(3))) if match else None

    def events(self):
        """IDs of the events the services of the box reported, in order."""
        return [i for _, i in reported_events(self.trace_path.read_text(errors='replace'))]

    def popen(self, args, stderr_path, debug='+pid,fixme+advapi', env=None, **kwargs):
        stderr = open(stderr_path, 'wb')
        process = subprocess.Popen([WINE] + list(args),
                                   env=dict(self.env, WINEDEBUG=debug, **(env or {})),
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=stderr,
                                   **kwargs)
        process.stderr_file = stderr
        self.processes.append(process)
        return process

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=30)
            process.stderr_file.close()
        subprocess.run([WINESERVER, '-k'], env=self.env, timeout=60, check=False)
        subprocess.run([WINESERVER, '-w'], env=self.env, timeout=60, check=False)
        # A prefix is some 700 MB: a test run of them would fill the disk.
        # PELKOR_KEEP_PREFIXES=1 keeps them for a look after the run.
        if not os.environ.get('PELKOR_KEEP_PREFIXES'):
            shutil.rmtree(self.prefix, ignore_errors=True)


def reported_events(text):
    """[(type, id), ...] from Wine's ReportEventA fixme lines, in order."""
    return [(int(t, 16), int(i, 16)) for t, i in REPORT_EVENT.findall(text)]


# With +eventlog, each insertion string follows its event as
# trace:eventlog:ReportEventW L"..." (Wine's escapes: \xxxx for a character).
EVENT_STRING = re.compile(r'eventlog:ReportEventW L"((?:[^"\\]|\\.)*)"')


def _ansi_bytes(escaped):
    """The bytes a program gave as ANSI text, from Wine's rendering of the
    text it made of them with the code page 1252 of a test process."""
    text = re.sub(r'\\([0-9a-f]{4})', lambda m: chr(int(m.group(1), 16)), escaped)
    text = re.sub(r'\\(.)', r'\1', text)
    return bytes(ord(c) if ord(c) < 256 else c.encode('cp1252')[0] for c in text)


def reported_strings(text):
    """The insertion strings of each reported event, as bytes, in order."""
    events, current = [], None
    for line in text.splitlines():
        if REPORT_EVENT.search(line):
            current = []
            events.append(current)
        elif current is not None and EVENT_STRING.search(line):
            current.append(_ansi_bytes(EVENT_STRING.search(line).group(1)))
    return events


def wait_until(condition, timeout, interval=0.1):
    """Polls condition until it returns a true value or timeout seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)
