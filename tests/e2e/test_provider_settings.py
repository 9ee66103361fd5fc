"""The optional settings that real providers need, with the real worker in
its one-second-tick host and the real service program's one-shot switch,
against the stand-in provider (and a forwarding proxy) on 127.0.0.1."""
import base64
import shutil
import time

import pytest

import pelkor_files as pf
import stand_in_provider
import winebox
from test_worker import Worker, refused_url


def update_paths(server):
    return [path for path, _, _ in server.requests]


@pytest.mark.parametrize('path, most, last', [
    # A refusal: one request, then nothing, with okbody too, until the password changes.
    ('/text/badauth', 1, pf.text_with(pf.REFUSED_ACCOUNT, 'badauth')),
    # A wait code: nothing for half an hour.
    ('/text/911', 1, pf.text_with(pf.PROVIDER_WAIT, '911')),
    # A success with the address: a request at every tick (interval=0).
    ('/answer/' + b'good 93.184.216.34'.hex(), 99, pf.TEXTS[pf.FETCHED]),
    # 5000 bytes declared, 1000 sent: no answer at all.
    ('/cut/5000/1000', 99, pf.TEXTS[pf.REPLY_CUT]),
], ids=['badauth', 'wait', 'good', 'cut'])
def test_a_providers_answer_decides_what_comes_next(wine, programs, server, path, most, last):
    worker = Worker(wine, programs, url=server.url(path), interval=0, okbody='good',
                    password='wrong').start()
    worker.wait_for_status(last, timeout=30)
    time.sleep(10)  # ten more ticks
    requests = len(update_paths(server))
    assert requests <= most and (most == 1 or requests >= 8), update_paths(server)
    if path == '/text/badauth':
        worker.ini.write_bytes(worker.ini.read_bytes().replace(b'password=wrong', b'password=right'))
        assert winebox.wait_until(lambda: len(update_paths(server)) == 2, 15), update_paths(server)
    worker.stop()
    assert pf.lastlog_text(worker.ini) == pf.TEXTS[pf.END]


def test_retry_tries_a_refused_connection_again_before_the_interval(wine, programs):
    # retry=1 with the one-second tick: failures at about 1, 3 and 5-7 s,
    # where the interval alone would allow one request in 600 s.
    worker = Worker(wine, programs, url=refused_url(), retry=1).start()
    assert winebox.wait_until(lambda: worker.events().count(pf.EXCEPTION) >= 3, 30), \
        worker.events()
    worker.stop()


def test_checkurl_sends_an_update_only_when_the_address_changed(wine, programs, server):
    worker = Worker(wine, programs, url=server.url('/nic/update'), interval=1,
                    checkurl=server.url('/ip')).start()
    worker.wait_for_event(pf.FETCHED)
    worker.wait_for_status(pf.TEXTS[pf.ADDRESS_UNCHANGED])
    assert update_paths(server).count('/nic/update') == 1
    server.address = '192.0.2.99'
    assert winebox.wait_until(lambda: update_paths(server).count('/nic/update') == 2, 15), \
        update_paths(server)
    events = worker.stop()
    assert events.count(pf.FETCHED) == 2
    assert pf.ADDRESS_UNCHANGED not in events  # a status line, never an event
    assert set(update_paths(server)) == {'/ip', '/nic/update'}


@pytest.mark.parametrize('answer, family, update', [
    # After a refused check service and one that answers 503, JSON whose
    # address has more behind it: the update gets the address alone.
    ('{"ip":"93.184.216.34","tail":"&hostname=other.example"}', '', 'myip=93.184.216.34'),
    ('<html><form>Please log in</form></html>', '', None),  # a hotel's login page
    ('2001:db8::1', '4', None),  # an IPv6 answer for an A record
], ids=['json_after_503', 'login_page', 'other_family'])
def test_only_an_address_from_a_working_check_service_reaches_the_update(
        wine, programs, server, answer, family, update):
    server.address = answer
    checks = ' '.join([refused_url(), server.url('/status/503'), server.url('/ip')])
    worker = Worker(wine, programs, url=server.url('/nic/update?myip={address}'), interval=1,
                    checkurl=checks, log=1, family=family).start()
    worker.wait_for_status(pf.TEXTS[pf.ADDRESS_UNCHANGED if update else pf.ADDRESS_UNCHECKED])
    lines = worker.capture().splitlines()  # the lines of this check, before the next tick's
    worker.stop()
    sent = [path for path in update_paths(server) if path.startswith('/nic/')]
    assert sent == ([f'/nic/update?{update}'] if update else []), update_paths(server)
    assert [line.split(b' ', 1)[0] for line in lines[:2]] == [c.encode() for c in checks.split()[:2]]
    assert lines[1].endswith(b' HTTP 503')


def test_agent_and_credentials_reach_the_server(wine, programs, server):
    password = 'p@ss:w%rd'
    worker = Worker(wine, programs, url=server.url('/nic/update'), agent='pelkor-test/1.0',
                    user='alice', password=password).start()
    worker.wait_for_event(pf.FETCHED)
    worker.stop()
    headers = server.headers[0]
    assert headers['User-Agent'] == 'pelkor-test/1.0'
    assert headers['Authorization'] == 'Basic ' + base64.b64encode(
        f'alice:{password}'.encode()).decode()


@pytest.mark.parametrize('through_proxy', [False, True], ids=['direct', 'named-proxy'])
def test_proxy_setting_chooses_the_way_to_the_provider(wine, programs, server, through_proxy):
    proxy = stand_in_provider.ForwardingProxy().start()
    try:
        setting = f'127.0.0.1:{proxy.port}' if through_proxy else 'direct'
        worker = Worker(wine, programs, url=server.url('/nic/update'), proxy=setting).start()
        worker.wait_for_event(pf.FETCHED)
        worker.stop()
        assert update_paths(server) == ['/nic/update']
        expected = [f'GET {server.url("/nic/update")} HTTP/1.1'] if through_proxy else []
        assert proxy.requests == expected
    finally:
        proxy.stop()


@pytest.mark.parametrize('path, code, last_text', [
    ('/nic/update', 0, pf.TEXTS[pf.FETCHED]),
    ('/status/500', 1, pf.TEXTS[pf.NOT_OK]),
], ids=['success', 'refused'])
def test_once_runs_one_update_from_the_console(wine, programs, server, path, code, last_text):
    folder = wine.unix_path('C:\\pelkor')
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy(programs / 'pelkor.exe', folder / 'pelkor.exe')
    pf.write_settings(folder / 'pelkor.ini', url=server.url(path), user='alice', password='secret')
    result = wine.run(['C:\\pelkor\\pelkor.exe', '-once'], timeout=120)
    assert result.returncode == code, result
    lines = result.stdout.decode('cp932').splitlines()
    assert f'url={server.url(path)}' in lines
    assert 'password=***' in lines and 'secret' not in result.stdout.decode('cp932')
    assert lines[-1].endswith(last_text)
    assert pf.lastlog_text(folder / 'pelkor.ini') == last_text
    assert update_paths(server) == [path]


def test_two_records_update_side_by_side_over_ipv4_and_ipv6(wine, programs, server):
    """Record 1 (an A record) on 127.0.0.1 as always; record 2 (an AAAA
    record) at a provider reached over ::1, the address that a check URL gave
    in its URL. A failing record 2 leaves record 1 as it was."""
    v6 = stand_in_provider.Server(host='::1').start()
    try:
        server.address = '2001:db8::5'
        worker = Worker(wine, programs, url=server.url('/nic/update'), interval=1)
        pf.add_record(worker.ini, 2, url=v6.url('/nic/update?hostname=home&myip={address}'),
                      checkurl=server.url('/ip'), log=1, interval=600)
        worker.start(debug='+pid,fixme+advapi,+eventlog')
        assert winebox.wait_until(
            lambda: pf.lastlog_text(worker.ini, 'lastlog2') == pf.TEXTS[pf.FETCHED], 15), \
            worker.events()
        assert [(p, a) for p, a, _ in v6.requests] == [('/nic/update?hostname=home&myip=2001:db8::5',
                                                        '::1')]
        assert (worker.dir / 'pelkor2.txt').read_bytes() == b'good ::1\n'

        # Record 2 now fails; record 1 goes on updating at its interval.
        text = worker.ini.read_bytes().replace(b'/nic/update?hostname=home', b'/status/500?hostname=home')
        worker.ini.write_bytes(text)
        updates = update_paths(server).count('/nic/update')
        assert winebox.wait_until(lambda: pf.GENERIC_ERROR in worker.events(), 15), worker.events()
        assert winebox.wait_until(
            lambda: update_paths(server).count('/nic/update') >= updates + 2, 15), update_paths(server)
        events = worker.stop()
        assert pf.lastlog_text(worker.ini) == pf.TEXTS[pf.END]
        assert pf.lastlog_text(worker.ini, 'lastlog2') == pf.TEXTS[pf.NOT_OK]

        # Record 1's events as always; record 2's under the generic entries,
        # the section and the text as their two insertion strings.
        assert set(events) == {pf.START, pf.FETCHED, pf.GENERIC_INFO, pf.GENERIC_ERROR, pf.END}
        strings = winebox.reported_strings(worker.stderr.read_text(errors='replace'))
        for event_id, inserted in zip(events, strings):
            expected = {pf.GENERIC_INFO: pf.FETCHED, pf.GENERIC_ERROR: pf.NOT_OK}.get(event_id)
            assert inserted == ([b'[setting2] ', pf.TEXTS[expected].encode('cp932')]
                                if expected else []), (hex(event_id), inserted)
    finally:
        v6.stop()

