"""The settings file under Wine: the worker's status lines never cost the
user a byte of pelkor.ini (on a full disk, and with saves in place or by
rename racing the rewrites), the file is never seen cut or missing (but for
5 ms at most), and the settings and capture files, like -install, keep their
secrets to SYSTEM and the Administrators."""
import errno
import re
import shutil
import socket
import subprocess
import threading
import time

import pytest

import pelkor_files as pf
import winebox

FOLDER = 'C:\\pelkor'
INI = FOLDER + '\\pelkor.ini'
EVERYONE = re.compile(r'\(A;[^;]*;[^;]*;;;WD\)')  # an allow entry for Everyone, as SDDL


def refused_url():
    """A URL on 127.0.0.1 where nothing listens."""
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        port = s.getsockname()[1]
    return f'http://127.0.0.1:{port}/nic/update/'


def user_text(url, log=0):
    """The user's own file, with what the profile writer would not have kept
    as it was: blank lines, blanks around '=', a comment in code page 932.
    interval=0: an update, so two status lines, at every tick."""
    return ('[setting]\r\nurl=' + url + f'\r\ninterval = 0\r\nlog={log}\r\ntimeout=10\r\n\r\n'
            '; 更新先は上のURL\r\n\r\n[log]\r\nlastlog=\r\n').encode('cp932')


def users_part(text):
    """All but the [log] section, which is the worker's."""
    return text.split(b'[log]\r\n')[0]


def whole(text, users_part_expected):
    """Whether text is the user's part as expected, then [log] with one
    status line, whole."""
    part = users_part(text)
    return part == users_part_expected and re.fullmatch(rb'\[log\]\r\nlastlog=[^\r\n]*\r\n',
                                                         text[len(part):]) is not None


class Worker:
    """The worker host, as pelkor.exe in C:\\pelkor of a Wine box."""

    def __init__(self, wine, programs, text):
        self.wine = wine
        self.dir = wine.unix_path(FOLDER)
        self.dir.mkdir(parents=True, exist_ok=True)
        shutil.copy(programs / 'test' / 'workerhost_fasttick.exe', self.dir / 'pelkor.exe')
        self.ini = self.dir / 'pelkor.ini'
        self.ini.write_bytes(text)
        self.stderr = wine.prefix.parent / 'worker-stderr.log'
        self.process = None

    def start(self):
        self.process = self.wine.popen([FOLDER + '\\pelkor.exe'], self.stderr)
        return self

    def events(self):
        return [i for _, i in winebox.reported_events(self.stderr.read_text(errors='replace'))]

    def wait_for_events(self, event_id, count, timeout=30):
        assert winebox.wait_until(lambda: self.events().count(event_id) >= count, timeout), \
            self.events()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.stdin.close()
            self.process.wait(timeout=60)


class Watch:
    """Reads the settings file from Linux, over and over, on a thread of its
    own: every read must find the file (again 5 ms later: a rewrite's new
    file takes the name an instant after the old one leaves it), and what
    expected accepts."""

    def __init__(self, path, expected):
        self.path, self.expected = path, expected
        self.reads, self.problems = 0, []
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        deadline = time.monotonic() + 240
        while self.running and time.monotonic() < deadline and len(self.problems) < 20:
            try:
                text = self.path.read_bytes()
            except FileNotFoundError:
                time.sleep(0.005)
                if not self.path.exists():
                    self.problems.append('missing')
                continue
            self.reads += 1
            if not self.expected(text):
                self.problems.append(text)
            time.sleep(0.0005)

    def stop(self):
        self.running = False
        self.thread.join(timeout=30)
        return self.problems


@pytest.fixture
def small_disk(wine):
    """C:\\pelkor on a tmpfs of 256 KiB, unmounted afterwards."""
    folder = wine.unix_path(FOLDER)
    folder.mkdir(parents=True)
    mounted = subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=256k,mode=0755', 'tmpfs',
                              str(folder)], capture_output=True, check=False)
    if mounted.returncode != 0:
        pytest.skip('mounting a small tmpfs is not permitted here: ' +
                    mounted.stderr.decode(errors='replace').strip())
    yield folder
    # Wine's server must let go of the folder before it can be unmounted.
    subprocess.run([winebox.WINESERVER, '-k'], env=wine.env, timeout=60, check=False)
    subprocess.run([winebox.WINESERVER, '-w'], env=wine.env, timeout=60, check=False)
    subprocess.run(['umount', '-l', str(folder)], check=True, timeout=60)


def fill(folder):
    """Fills the disk of folder; the file that fills it."""
    filler = folder / 'filler'
    with open(filler, 'wb', buffering=0) as f:
        for _ in range(1 << 20):  # bounded: far more than the disk holds
            try:
                f.write(b'\0' * 4096)
            except OSError as e:
                assert e.errno == errno.ENOSPC
                break
    return filler


def test_a_full_disk_costs_no_byte_of_the_settings_file(wine, programs, small_disk):
    text = user_text(refused_url())
    worker = Worker(wine, programs, text)
    filler = fill(small_disk)
    watch = Watch(worker.ini, lambda now: whole(now, users_part(text)))
    worker.start()
    # Three ticks, each with two rewrites that find no room for the new file.
    worker.wait_for_events(pf.EXCEPTION, 3)
    assert worker.ini.read_bytes() == text
    # With room again, the status line comes; the user's bytes stay.
    filler.unlink()
    assert winebox.wait_until(lambda: pf.lastlog_text(worker.ini) is not None, 30)
    worker.stop()
    assert watch.stop() == [] and watch.reads > 0
    assert users_part(worker.ini.read_bytes()) == users_part(text)
    assert sorted(p.name for p in small_disk.iterdir()) == ['pelkor.exe', 'pelkor.ini']


@pytest.mark.parametrize('how', [[], ['rename']], ids=['in_place', 'by_rename'])
def test_saves_racing_the_rewrites_are_never_undone(wine, programs, how):
    url = refused_url()
    base = url + 'save/'
    text = user_text(base + '0000')
    saved = re.compile(re.escape(users_part(text)).replace(b'0000', b'[0-9]{4}') + b'$', re.S)
    worker = Worker(wine, programs, text)
    # (The user's part only: the saver's own writes in place may show its
    # [log] part half done.)
    watch = Watch(worker.ini, lambda now: saved.match(users_part(now)))
    worker.start()
    # The user saves in place (or by rename) every 3 ms for 20 s: saves land
    # within milliseconds of the rewrites, some between a rewrite's read and its
    # replace (the profile writer put an older save back 2 or 3 times in such
    # a run), and none may be undone.
    probe = wine.windows_path(programs / 'test' / 'probe.exe')
    out = wine.run([probe, 'saves', INI, '20', base, '3'] + how, timeout=240).stdout.decode()
    match = re.search(r'saves=(\d+) undone=(\d+) lines=(\d+)', out)
    assert match and match.group(2) == '0', out
    # The rewrites went on meanwhile, and one more follows the last save.
    assert int(match.group(3)) >= 5, out
    last = b'%04d' % int(match.group(1))
    status = pf.lastlog_bytes(worker.ini)
    assert winebox.wait_until(lambda: pf.lastlog_bytes(worker.ini) != status, 10), out
    worker.stop()
    assert watch.stop() == [] and watch.reads > 0, out
    # The last save stands, with a status line after it and nothing else added.
    final = worker.ini.read_bytes()
    assert users_part(final) == users_part(text).replace(b'0000', last)
    assert final.count(b'lastlog=') == 1 and pf.lastlog_text(worker.ini) is not None
    assert sorted(p.name for p in worker.dir.iterdir()) == ['pelkor.exe', 'pelkor.ini']


def sddl(wine, programs, path):
    probe = wine.windows_path(programs / 'test' / 'probe.exe')
    return wine.run([probe, 'sddl', path]).stdout.decode().strip()


def test_the_settings_and_capture_files_are_private(wine, programs, server):
    # Both left by an older version, open to everyone.
    worker = Worker(wine, programs, user_text(server.url('/body/100'), log=1))
    capture = worker.dir / 'pelkor.txt'
    capture.write_bytes(b'old')
    for path in (worker.ini, capture):
        path.chmod(0o666)
    assert EVERYONE.search(sddl(wine, programs, INI))
    worker.start()
    worker.wait_for_events(pf.FETCHED, 1)
    assert winebox.wait_until(lambda: pf.lastlog_text(worker.ini) == pf.TEXTS[pf.FETCHED], 10)
    worker.stop()
    for path in (INI, FOLDER + '\\pelkor.txt'):
        # Wine keeps a list as the Unix mode: no bits for others is no entry
        # for Everyone.
        assert not EVERYONE.search(sddl(wine, programs, path)), path
    assert worker.ini.stat().st_mode & 0o007 == 0 and capture.stat().st_mode & 0o007 == 0
    assert capture.read_bytes() != b'old'


WARNING = ('Warning: users other than SYSTEM and Administrators may write to C:\\pelkor\\ '
           'and could replace a program that runs as LocalSystem.\n')


@pytest.mark.parametrize('mode, output', [
    # mkdir's folder: Wine gives its user full rights (S-1-5-21-0-0-0-1000).
    (0o755, 'Pelkor Service installed.\n' + WARNING),
    # With no bits, Wine reads back SYSTEM alone.
    (0o000, 'Pelkor Service installed.\n'),
], ids=['open_folder', 'private_folder'])
def test_install_makes_the_settings_private_and_warns_of_an_open_folder(wine, programs, mode,
                                                                         output):
    folder = wine.unix_path(FOLDER)
    folder.mkdir(parents=True)
    shutil.copy(programs / 'pelkor.exe', folder / 'pelkor.exe')
    pf.write_settings(folder / 'pelkor.ini', url='http://127.0.0.1:1/')
    (folder / 'pelkor.ini').chmod(0o666)
    folder.chmod(mode)
    try:
        result = wine.run([FOLDER + '\\pelkor.exe', '-install'])
        assert result.stdout.replace(b'\r\n', b'\n').decode() == output
        assert not EVERYONE.search(sddl(wine, programs, INI))
        assert (folder / 'pelkor.ini').stat().st_mode & 0o007 == 0
    finally:
        folder.chmod(0o755)
