"""The update worker in its plain console host (one-second tick), with real
WinINet against a local server, observed through lastlog, the capture file,
the requests the server saw and the events Wine's event log printed."""
import shutil
import socket
import time

import pytest

import pelkor_files as pf
import stand_in_provider
import winebox


class Worker:
    """One run of the worker host in C:\\pelkor of a Wine box."""

    def __init__(self, wine, programs, **settings):
        self.wine = wine
        self.dir = wine.unix_path('C:\\pelkor')
        self.dir.mkdir(parents=True, exist_ok=True)
        shutil.copy(programs / 'test' / 'workerhost_fasttick.exe', self.dir / 'pelkor.exe')
        self.ini = self.dir / 'pelkor.ini'
        self.capture_path = self.dir / 'pelkor.txt'
        pf.write_settings(self.ini, **settings)
        self.stderr = wine.prefix.parent / 'worker-stderr.log'
        self.process = None

    def start(self, debug='+pid,fixme+advapi'):
        self.process = self.wine.popen(['C:\\pelkor\\pelkor.exe'], self.stderr, debug=debug)
        return self

    def events(self):
        return [event_id for _, event_id in self.typed_events()]

    def typed_events(self):
        return winebox.reported_events(self.stderr.read_text(errors='replace'))

    def wait_for_event(self, event_id, timeout=30):
        assert winebox.wait_until(lambda: event_id in self.events(), timeout), self.events()

    def wait_for_status(self, text, timeout=10):
        # The worker rewrites the whole file for each status line: poll
        # rather than catch it half-written.
        assert winebox.wait_until(lambda: pf.lastlog_text(self.ini) == text, timeout), \
            pf.lastlog_text(self.ini)

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=60)
        return self.events()

    def capture(self):
        return self.capture_path.read_bytes() if self.capture_path.exists() else None


def refused_url():
    """A URL on 127.0.0.1 where nothing listens."""
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        port = s.getsockname()[1]
    return f'http://127.0.0.1:{port}/nic/update'


def test_body_is_captured_byte_for_byte_and_the_outcome_recorded(wine, programs, server):
    worker = Worker(wine, programs, url=server.url('/body/2500'), log=1).start()
    worker.wait_for_event(pf.FETCHED)
    worker.wait_for_status(pf.TEXTS[pf.FETCHED])
    assert worker.capture() == stand_in_provider.pattern_bytes(0, 2500)

    assert worker.stop() == [pf.START, pf.FETCHED, pf.END]
    assert [t for t, _ in worker.typed_events()] == [4, 4, 4]
    # One request for the whole run: the interval (600 s) has not passed.
    assert [path for path, _, _ in server.requests] == ['/body/2500']
    # The status line is stored as code page 932 bytes.
    assert pf.lastlog_bytes(worker.ini).endswith(pf.TEXTS[pf.END].encode('cp932'))


@pytest.mark.parametrize('path, events, capture', [
    # A refused update (wrong password) keeps the provider's page, never a success.
    ('/status/401', [pf.NOT_OK], b'<html><body><h1>401</h1></body></html>\n'),
    ('/empty', [pf.EMPTY], b''),
], ids=['not_found', 'empty'])
def test_http_outcomes(wine, programs, server, path, events, capture):
    worker = Worker(wine, programs, url=server.url(path), log=1).start()
    worker.wait_for_event(events[-1])
    worker.wait_for_status(pf.TEXTS[events[-1]])
    assert worker.stop() == [pf.START] + events + [pf.END]
    assert worker.capture() == capture


@pytest.mark.parametrize('url, text', [
    (refused_url, b'The attempt to connect to the server failed.\r\n'),
    (lambda: 'http://pelkor-test.invalid/nic/update', b'The server name could not be resolved.\r\n'),
], ids=['refused', 'unresolved'])
def test_network_failures_leave_their_text_in_the_capture_file(wine, programs, url, text):
    worker = Worker(wine, programs, url=url(), log=1).start()
    worker.wait_for_event(pf.EXCEPTION)
    worker.wait_for_status(pf.TEXTS[pf.EXCEPTION])
    assert worker.stop() == [pf.START, pf.EXCEPTION, pf.END]
    assert worker.capture() == text


def test_a_failure_in_the_middle_of_the_body_keeps_only_the_failure_text(wine, programs, server):
    # A reset after part of a 404 page: the status event first, then the
    # failure; the part of the page already captured is replaced. (A stall
    # would do the same on Windows; Wine's WinINet does not apply receive
    # time-outs to a response opened by URL, so the unit tests cover it.)
    worker = Worker(wine, programs, url=server.url('/reset/1000/404'), log=1).start()
    worker.wait_for_event(pf.EXCEPTION)
    assert worker.stop() == [pf.START, pf.NOT_OK, pf.EXCEPTION, pf.END]
    capture = worker.capture()
    assert stand_in_provider.pattern_bytes(0, 16) not in capture
    assert b'reset' in capture.lower()


def test_a_capture_file_held_by_another_program_costs_the_capture_only(wine, programs, server):
    worker = Worker(wine, programs, url=server.url('/body/100'), log=1)
    holder = wine.popen([wine.windows_path(programs / 'test' / 'probe.exe'), 'hold',
                         'C:\\pelkor\\pelkor.txt'], wine.prefix.parent / 'hold.log')
    assert holder.stdout.readline().strip() == b'holding'
    worker.start()
    worker.wait_for_event(pf.FETCHED)
    assert worker.stop() == [pf.START, pf.LOG_OPEN_FAILED, pf.FETCHED, pf.END]
    assert worker.capture() == b''
    holder.stdin.close()
    holder.wait(timeout=30)


def test_an_unset_url_is_warned_about_once(wine, programs, server):
    worker = Worker(wine, programs, url='', log=1).start()
    worker.wait_for_event(pf.URL_NOT_SET)
    time.sleep(3)  # three more ticks
    worker.wait_for_status(pf.TEXTS[pf.URL_NOT_SET])
    assert worker.stop() == [pf.START, pf.URL_NOT_SET, pf.END]
    assert worker.capture() is None
    assert server.requests == []
