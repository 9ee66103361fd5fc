"""The service program under Wine's real Service Control Manager: console
install and remove, start, the worker's first tick, stop, and the reports
the service makes on the way (traced by Wine's service channel)."""
import re
import shutil
import socket
import time

import pytest

import pelkor_files as pf
import winebox

FOLDER = 'C:\\Program Files\\Pelkor'  # a blank in the path on purpose
PROGRAM = FOLDER + '\\pelkor.exe'
SERVICE_KEY = 'System\\CurrentControlSet\\Services\\pelkorService'
SOURCE_KEY = 'System\\CurrentControlSet\\Services\\Eventlog\\Application\\PELKOR_SVC'
DESCRIPTION = '定期的に特定URLにアクセスします。Dynamic DNSのIPアップデータ用。'.encode('cp932')
TRACE = '+pid,+service,fixme+advapi'
# SetServiceStatus as Wine traces it: handle, type, state, accepted, exit, specific, check point, hint
REPORT = re.compile(r'trace:service:SetServiceStatus \S+ 0x10 (\S+) (\S+) (\S+) (\S+) (\S+) (\S+)')


def text(output):
    """Console output with the C runtime's CR LF turned back into LF."""
    return output.replace(b'\r\n', b'\n').decode(errors='replace')


class Service:
    def __init__(self, box, programs, program='pelkor.exe', **settings):
        self.box = box
        self.programs = programs
        self.dir = box.unix_path(FOLDER)
        self.dir.mkdir(parents=True, exist_ok=True)
        source = programs / program if program == 'pelkor.exe' else programs / 'test' / program
        shutil.copy(source, self.dir / 'pelkor.exe')
        self.ini = self.dir / 'pelkor.ini'
        pf.write_settings(self.ini, **settings)

    def command(self, *args):
        result = self.box.run([PROGRAM] + list(args))
        return result.returncode, text(result.stdout)

    def sc(self, *args):
        return self.box.run(['sc'] + list(args) + ['pelkorService'])

    def state(self):
        return self.box.service_state()

    def wait_for_state(self, state, timeout=60):
        assert winebox.wait_until(lambda: self.state() == state, timeout), self.state()

    def events(self):
        return self.box.events()

    def reports(self):
        return [tuple(int(v, 16) for v in m)
                for m in REPORT.findall(self.box.trace_path.read_text(errors='replace'))]

    def registry(self, key, name):
        found = self.box.reg_value(self.programs, key, name)
        assert found, (key, name)
        return found


@pytest.fixture
def box(wine_template, tmp_path):
    with winebox.WineBox(wine_template, tmp_path / 'prefix', debug=TRACE) as box:
        yield box


def test_install_registers_the_quoted_path_and_terminated_values(box, programs):
    service = Service(box, programs)
    # A folder only SYSTEM may write to (Wine's reading of no mode bits):
    # -install adds no warning about it.
    service.dir.chmod(0)
    assert service.command('-install') == (0, 'Pelkor Service installed.\n')

    query = text(box.reg_query('HKLM\\' + SERVICE_KEY).stdout)
    assert '    ImagePath    REG_SZ    "C:\\Program Files\\Pelkor\\pelkor.exe"\n' in query
    assert '    Type    REG_DWORD    0x110\n' in query
    assert '    Start    REG_DWORD    0x2\n' in query
    assert '    ErrorControl    REG_DWORD    0x1\n' in query
    assert '    ObjectName    REG_SZ    LocalSystem\n' in query
    # REG_SZ values carry their terminating NUL in the byte count.
    path = PROGRAM.encode()
    assert service.registry(SOURCE_KEY, 'EventMessageFile') == (1, len(path) + 1, path + b'\0')
    assert service.registry(SOURCE_KEY, 'TypesSupported') == (4, 4, b'\x05\0\0\0')
    assert service.registry(SERVICE_KEY, 'Description') == (1, 65, DESCRIPTION + b'\0')

    # Installing again fails for the service but repairs the values.
    for key, name in [(SOURCE_KEY, 'EventMessageFile'), (SOURCE_KEY, 'TypesSupported'),
                      (SERVICE_KEY, 'Description')]:
        box.run(['reg', 'delete', 'HKLM\\' + key, '/v', name, '/f'])
    assert service.command('/INSTALL', 'ignored') == (0, 'CreateService failed - 1073\n')
    assert service.registry(SOURCE_KEY, 'TypesSupported')[0] == 4
    assert service.registry(SOURCE_KEY, 'EventMessageFile')[2] == path + b'\0'
    assert service.registry(SERVICE_KEY, 'Description')[1] == 65


def test_runs_as_a_service_with_the_release_tick_and_stops_cleanly(box, programs):
    service = Service(box, programs)  # the program as built for release, no URL set
    service.command('-install')
    assert service.sc('start').returncode == 0
    service.wait_for_state(4)
    assert winebox.wait_until(lambda: service.events() == [pf.START], 10), service.events()
    # The first tick comes after 15 seconds and finds no URL.
    assert winebox.wait_until(lambda: pf.lastlog_text(service.ini) == pf.TEXTS[pf.URL_NOT_SET], 40)

    service.sc('stop')
    service.wait_for_state(1)
    assert service.events() == [pf.START, pf.URL_NOT_SET, pf.END]
    assert service.reports() == [
        (2, 0, 100, 0, 1, 3000), (2, 0, 200, 0, 2, 3000), (2, 0, 300, 0, 3, 3000),
        (4, 0x45, 0, 0, 0, 0), (3, 0x45, 0, 0, 4, 2000), (1, 0x45, 0, 0, 0, 0)]


@pytest.fixture
def unaccepted():
    """A URL on 127.0.0.1 whose listener never accepts: its queue is kept
    full, so a further connection hangs in its handshake."""
    with socket.socket() as listener:
        listener.bind(('127.0.0.1', 0))
        listener.listen(0)
        fillers = []
        for _ in range(4):
            filler = socket.socket()
            filler.setblocking(False)
            filler.connect_ex(listener.getsockname())
            fillers.append(filler)
        yield f'http://127.0.0.1:{listener.getsockname()[1]}/nic/update'
        for filler in fillers:
            filler.close()


def without_lastlog(data):
    return [line for line in data.split(b'\r\n') if not line.startswith(b'lastlog=')]


@pytest.mark.parametrize('provider, how', [
    ('answers_never', 'sc stop'), ('drips', 'sc stop'), ('accepts_never', '-remove')])
def test_a_stop_ends_a_stalled_request_within_two_seconds(box, programs, server, unaccepted,
                                                          provider, how):
    url = {'answers_never': server.url('/slow/20'), 'drips': server.url('/drip'),
           'accepts_never': unaccepted}[provider]
    service = Service(box, programs, url=url, log=1)  # as released: the 15-second tick
    settings = without_lastlog(service.ini.read_bytes())
    service.command('-install')
    service.sc('start')
    service.wait_for_state(4)
    # An update on request starts at once, not at the first tick.
    assert service.command('-now') == (0, 'Pelkor Service: update requested.\n')
    assert winebox.wait_until(
        lambda: pf.lastlog_text(service.ini) == pf.TEXTS[pf.FETCHING], 2), service.events()
    time.sleep(1.5)  # well inside the request: the server holds it for 20 s

    asked = time.monotonic()
    if how == 'sc stop':
        assert service.sc('stop').returncode == 0  # answered at once, no 1053
    else:
        code, output = service.command('-remove')
        assert re.fullmatch(r'Stopping Pelkor Service\.\.*\nPelkor Service stopped\.\n'
                            r'Pelkor Service removed\.\n', output), output
    assert winebox.wait_until(lambda: service.state() in (1, None), 2 - (time.monotonic() - asked))

    assert service.events() == [pf.START, pf.END]  # the ended request is no success
    assert pf.lastlog_text(service.ini) == pf.TEXTS[pf.END]
    assert without_lastlog(service.ini.read_bytes()) == settings
    capture = service.dir / 'pelkor.txt'
    if provider == 'drips':  # what had arrived, closed with the service
        assert set(capture.read_bytes()) <= {ord('.')}


def test_remove_stops_a_running_service_and_keeps_the_event_source(box, programs):
    service = Service(box, programs, 'pelkor_fasttick.exe')
    service.command('-install')
    service.sc('start')
    service.wait_for_state(4)

    code, output = service.command('-remove')
    assert code == 0
    assert re.fullmatch(r'Stopping Pelkor Service\.\.*\nPelkor Service stopped\.\n'
                        r'Pelkor Service removed\.\n', output), output
    assert service.events()[-1] == pf.END
    assert service.sc('query').returncode != 0
    assert box.reg_query('HKLM\\' + SOURCE_KEY).returncode == 0

    assert service.command('/Remove') == (0, 'OpenService failed - 1060\n')


def test_remove_of_a_stopped_service_prints_only_the_removal(box, programs):
    service = Service(box, programs)
    service.command('-install')
    assert service.command('-remove') == (0, 'Pelkor Service removed.\n')


def test_from_a_console_without_a_switch_the_dispatcher_fails(box, programs):
    # Wine's dispatcher takes about ten seconds to give up, so one case here;
    # the unit tests hold the table of arguments.
    assert Service(box, programs).command() == (1, 'start service failed\n')
