"""The installer package under Wine's msiexec and service manager, given to
it by install.exe (setup with the package behind it): silent installation
and removal, the service it starts, and the refusal of a second build while
the first is installed. The package carries the program that runs under
this host's Wine. On 64-bit Windows the 32-bit program runs from SysWOW64
while the Event Viewer, a 64-bit program, reads its event texts."""
import pathlib
import re
import shutil
import subprocess
import uuid

import pytest

import pelkor_build
import pelkor_files as pf
import winebox

ROOT = pathlib.Path(__file__).resolve().parents[2]
TEMPLATE = ROOT / 'resources' / 'pelkor.ini'
SERVICE_KEY = 'System\\CurrentControlSet\\Services\\pelkorService'
SOURCE_KEY = 'System\\CurrentControlSet\\Services\\Eventlog\\Application\\PELKOR_SVC'
# The installed program itself, wherever the package put it.
MESSAGE_FILE = {'win32': b'C:\\windows\\system32\\pelkor.exe',
                'win64': b'C:\\windows\\syswow64\\pelkor.exe'}[winebox.FLAVOUR]
# msiexec puts a 32-bit package's system folder files into SysWOW64 of a
# 64-bit prefix; the service's registered path tells where they went.
SYSTEM_FOLDERS = ('c:\\windows\\system32', 'c:\\windows\\syswow64')
WOW64_FOLDER = 'C:\\windows\\syswow64'
START_TEXT = (pf.TEXTS[pf.START] + '\r\n').encode('cp932')
FIRST_TICK_S = 15


@pytest.fixture(scope='module')
def packages(programs, tmp_path_factory):
    """Two builds of one version: the second under another product code."""
    tmp = tmp_path_factory.mktemp('install')
    built = []
    for name in ('first', 'second'):
        output = tmp / f'{name}.msi'
        built.append(pelkor_build.build_package(programs / 'pelkor.exe', output, uuid.uuid4()))
    return built


@pytest.fixture(scope='module')
def install_exe(programs, packages, tmp_path_factory):
    """install.exe: setup with the first package behind it, as the build makes it."""
    output = tmp_path_factory.mktemp('setup') / 'install.exe'
    return pelkor_build.make_setup_file(programs / 'setup.exe', packages[0], output)


class Machine:
    """A Wine box seen as the machine the package is installed on."""

    def __init__(self, box, programs):
        self.box = box
        self.eventtext = box.windows_path(programs / 'test' / 'eventtext64.exe')
        self.programs = programs

    def msiexec(self, *args):
        """The full exit code (the shell would see only its low byte)."""
        command = 'msiexec ' + ' '.join(
            self.box.windows_path(a) if isinstance(a, pathlib.Path) else a for a in args)
        return self.box.exit_code(self.programs, command, timeout=180)

    def setup(self, program, *args):
        """Runs a setup file; the full exit code."""
        return self.box.run_setup(self.programs, program, *args)

    def service(self):
        """The service's registration (reg query lines by value name), or None."""
        result = self.box.reg_query('HKLM\\' + SERVICE_KEY)
        if result.returncode:
            return None
        lines = result.stdout.decode(errors='replace').splitlines()
        return {m.group(1): (m.group(2), m.group(3)) for m in
                (re.match(r'\s+(\S+)\s+(REG_\w+)\s+(.*)$', line) for line in lines) if m}

    def state(self):
        return self.box.service_state()

    def value(self, name):
        found = self.box.reg_value(self.programs, SOURCE_KEY, name)
        return (found[0], found[2]) if found else None

    def start_text(self):
        """(message file, start message) as the 64-bit Event Viewer finds them."""
        out = self.box.run([self.eventtext, SOURCE_KEY, hex(pf.START)]).stdout.decode()
        fields = dict(line.split('=', 1) for line in out.splitlines() if '=' in line)
        assert 'text' in fields, out
        return fields['file'], bytes.fromhex(fields['text'])

    def system_folder(self):
        """Where the installed service program is, as a Linux path."""
        image = self.service()['ImagePath'][1].strip('"')
        folder = image.rsplit('\\', 1)[0]
        assert folder.lower() in SYSTEM_FOLDERS, image
        return self.box.unix_path(folder)

    def events(self):
        """IDs of the events the service reported, in order."""
        return self.box.events()


@pytest.fixture
def machine(wine, programs):
    return Machine(wine, programs)


def without_status(data):
    """A settings file's lines less lastlog's value and the blank lines, which
    the service's first write of lastlog (at its start) drops."""
    return [line for line in data.split(b'\r\n') if line and not line.startswith(b'lastlog=')]


def set_url(ini, url):
    """Sets url= in a settings file, leaving every other byte as it is."""
    data = ini.read_bytes()
    assert data.count(b'\r\nurl=\r\n') == 1
    ini.write_bytes(data.replace(b'\r\nurl=\r\n', b'\r\nurl=' + url.encode() + b'\r\n'))


def ticks_then_updates(ini, server):
    """The installed template sets no URL: the first tick says so in
    lastlog; with a URL set in the installed file, the next tick updates."""
    assert winebox.wait_until(lambda: pf.lastlog_text(ini) == pf.TEXTS[pf.URL_NOT_SET],
                              FIRST_TICK_S + 25), pf.lastlog_bytes(ini)
    set_url(ini, server.url('/nic/update'))
    assert winebox.wait_until(lambda: pf.lastlog_text(ini) == pf.TEXTS[pf.FETCHED],
                              FIRST_TICK_S + 25), pf.lastlog_bytes(ini)
    assert [path for path, _, _ in server.requests] == ['/nic/update']


@pytest.mark.timeout(600)  # an installation, two ticks of the service and a removal
def test_installs_and_starts_the_service_and_removal_takes_it_all_away(machine, programs,
                                                                        install_exe, server):
    assert machine.setup(install_exe, '/qn') == 0

    service = machine.service()
    assert service['Start'] == ('REG_DWORD', '0x2')  # automatic
    assert service['Type'] == ('REG_DWORD', '0x110')
    assert machine.state() == 4  # running
    folder = machine.system_folder()
    ini = folder / 'pelkor.ini'
    assert (folder / 'pelkor.exe').read_bytes() == (programs / 'pelkor.exe').read_bytes()
    assert without_status(ini.read_bytes()) == without_status(TEMPLATE.read_bytes())
    assert machine.value('EventMessageFile') == (1, MESSAGE_FILE + b'\0')  # REG_SZ
    assert machine.value('TypesSupported') == (4, b'\x05\0\0\0')  # REG_DWORD

    ticks_then_updates(ini, server)

    # The uninstall form puts setup's command text in front of the package,
    # and msiexec wants the package right behind /x: so /x comes last.
    assert machine.setup(install_exe, '/qn', '/x') == 0
    assert machine.service() is None and machine.state() is None
    assert machine.events()[-1] == pf.END  # stopped through its control handler
    assert not (folder / 'pelkor.exe').exists() and not ini.exists()
    assert machine.value('EventMessageFile') is None
    assert machine.value('TypesSupported') is None


@pytest.mark.timeout(600)
def test_a_second_build_is_refused_while_the_first_is_installed(machine, programs, packages):
    first, second = packages
    assert machine.msiexec('/i', first, '/qn') == 0
    folder = machine.system_folder()
    # The service's first tick may rewrite lastlog meanwhile; the rest stays.
    before = machine.service(), without_status((folder / 'pelkor.ini').read_bytes())

    # Refused silently and with the wizard (its sequence refuses before any page).
    assert machine.msiexec('/i', second, '/qn') == 1603
    assert machine.msiexec('/i', second) == 1603
    assert (machine.service(), without_status((folder / 'pelkor.ini').read_bytes())) == before
    assert machine.state() == 4
    assert (folder / 'pelkor.exe').exists() and machine.value('TypesSupported')

    assert machine.msiexec('/x', first, '/qn') == 0
    assert machine.service() is None
    assert machine.msiexec('/i', second, '/qn') == 0
    assert machine.state() == 4
    ini = machine.system_folder() / 'pelkor.ini'
    assert without_status(ini.read_bytes()) == without_status(TEMPLATE.read_bytes())


@pytest.fixture(scope='session')
def wow64_template(request, tmp_path_factory):
    """A booted 64-bit prefix: the suite's own where its Wine is 64-bit, else
    one of its own, in which the 32-bit programs run under WoW64."""
    if winebox.FLAVOUR == 'win64':
        yield request.getfixturevalue('wine_template')
        return
    prefix = tmp_path_factory.mktemp('wow64') / 'prefix'
    env = dict(winebox.base_env(prefix), WINEARCH='win64')
    subprocess.run([winebox.WINE, 'wineboot', '-i'], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)
    subprocess.run([winebox.WINESERVER, '-w'], env=env, timeout=300, check=False)
    yield prefix
    shutil.rmtree(prefix, ignore_errors=True)


def test_on_64_bit_windows_it_runs_from_syswow64_and_its_events_read_from_64_bit(
        wow64_template, programs, shipped, server, tmp_path):
    # The 32-bit programs as shipped, where this host runs them.
    tree = shipped if winebox.FLAVOUR == 'win32' else programs
    install_exe = pelkor_build.make_install_exe(tree, tmp_path)
    with winebox.WineBox(wow64_template, tmp_path / 'prefix', env={'WINEARCH': 'win64'}) as box:
        machine = Machine(box, programs)
        assert machine.setup(install_exe, '/qn') == 0
        assert machine.state() == 4
        program = WOW64_FOLDER + '\\pelkor.exe'
        assert machine.service()['ImagePath'][1].strip('"') == program
        assert machine.start_text() == (program, START_TEXT)

        ini = box.unix_path(WOW64_FOLDER + '\\pelkor.ini')
        ticks_then_updates(ini, server)

        assert machine.setup(install_exe, '/qn', '/x') == 0
        assert machine.service() is None and machine.state() is None
        assert not box.unix_path(program).exists() and not ini.exists()
        assert machine.value('EventMessageFile') is None
        assert machine.value('TypesSupported') is None

        # The program's own install registers the path it runs from.
        program = 'C:\\Pelkor\\pelkor.exe'
        box.unix_path(program).parent.mkdir()
        shutil.copy(tree / 'pelkor.exe', box.unix_path(program))
        pf.write_settings(box.unix_path(program).with_name('pelkor.ini'))
        console = WOW64_FOLDER + '\\cmd.exe' if winebox.FLAVOUR == 'win32' else 'cmd'
        assert b'installed.' in box.run([console, '/c', program, '-install']).stdout
        assert machine.start_text() == (program, START_TEXT)
        assert box.run(['sc', 'start', 'pelkorService']).returncode == 0
        assert winebox.wait_until(lambda: machine.state() == 4, 30), machine.state()
        assert b'removed' in box.run([console, '/c', program, '-remove']).stdout
        assert machine.service() is None and machine.state() is None
