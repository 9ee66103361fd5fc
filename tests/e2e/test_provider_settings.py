"""The optional settings that real providers need, with the real worker in
its one-second-tick host and the real service program's one-shot switch,
against the stand-in provider (and a forwarding proxy) on 127.0.0.1."""
import base64
import shutil

import pytest

import pelkor_files as pf
import stand_in_provider
import winebox
from test_worker import Worker, refused_url


def update_paths(server):
    return [path for path, _, _ in server.requests]


def test_okbody_refuses_a_200_that_says_badauth(wine, programs, server):
    worker = Worker(wine, programs, url=server.url('/text/badauth'), okbody='good', log=1).start()
    worker.wait_for_event(pf.NOT_SUCCESS)
    worker.wait_for_status(pf.TEXTS[pf.NOT_SUCCESS])
    assert worker.stop() == [pf.START, pf.NOT_SUCCESS, pf.END]
    assert worker.capture() == b'badauth'


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
