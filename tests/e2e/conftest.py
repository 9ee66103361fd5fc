"""Fixtures of the end-to-end tests: Wine prefixes copied from one template
per run, the local HTTP server, and the programs under test."""
import os
import pathlib
import shutil
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / 'tools'))

import stand_in_provider  # noqa: E402
import winebox  # noqa: E402


def pytest_addoption(parser):
    parser.addoption('--programs', default=str(ROOT / 'build' / 'win32'),
                     help='build tree whose programs run under Wine')
    parser.addoption('--shipped', default=str(ROOT / 'build' / 'win32'),
                     help='build tree of the 32-bit programs as shipped')


@pytest.fixture(scope='session')
def programs(request):
    """Build tree of the programs that run under this host's Wine."""
    return pathlib.Path(request.config.getoption('--programs')).resolve()


@pytest.fixture(scope='session')
def shipped(request):
    """Build tree of the 32-bit programs as shipped."""
    return pathlib.Path(request.config.getoption('--shipped')).resolve()


@pytest.fixture(scope='session')
def wine_template(tmp_path_factory):
    # PELKOR_WINE_TEMPLATE names a ready prefix to copy instead (saves a
    # wineboot while working on the tests); by default each run makes one.
    ready = os.environ.get('PELKOR_WINE_TEMPLATE')
    if ready:
        yield pathlib.Path(ready)
        return
    template = winebox.make_template(tmp_path_factory.mktemp('template') / 'prefix')
    yield template
    shutil.rmtree(template, ignore_errors=True)


@pytest.fixture
def wine(wine_template, tmp_path):
    with winebox.WineBox(wine_template, tmp_path / 'prefix') as box:
        yield box


@pytest.fixture
def server():
    srv = stand_in_provider.Server().start()
    yield srv
    srv.stop()
