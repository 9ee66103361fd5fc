"""The installer's Japanese wizard under a virtual display: the welcome page
of a full-UI installation renders with Japanese text. Its screenshot stays
in build/test-artifacts/ for a person to look at."""
import os
import pathlib
import re
import subprocess

import pytest

import pelkor_build
import winebox

ROOT = pathlib.Path(__file__).resolve().parents[2]
ARTIFACTS = ROOT / 'build' / 'test-artifacts'
# Words of the welcome page; the recognition of small screen text is not
# exact, so some of them are enough.
WORDS = ['セットアップ', 'ウィザード', 'インストール', 'サービス', 'コンピュータ', 'キャンセル']


@pytest.fixture
def display():
    """A virtual X display of its own (Xvfb picks a free number)."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', '1024x768x24',
                             '-nolisten', 'tcp'], pass_fds=[write], stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as pipe:
        number = pipe.readline().strip()
    yield ':' + number
    xvfb.kill()
    xvfb.wait(timeout=30)


def windows(display):
    out = subprocess.run(['xwininfo', '-root', '-tree', '-display', display],
                         capture_output=True, timeout=30).stdout.decode(errors='replace')
    return re.findall(r'(0x[0-9a-f]+) "([^"]*)": \("msiexec.exe"', out)


@pytest.mark.timeout(600)  # the wizard's start and text recognition are slow
def test_welcome_page_renders_in_japanese(wine_template, programs, display, tmp_path):
    package = pelkor_build.build_package(programs / 'pelkor.exe', tmp_path / 'install.msi')
    # A Japanese system: code page 932 and a Japanese font for the UI font.
    with winebox.WineBox(wine_template, tmp_path / 'prefix',
                         env={'DISPLAY': display, 'LANG': 'ja_JP.UTF-8'}) as box:
        box.run(['reg', 'add', 'HKCU\\Software\\Wine\\Fonts\\Replacements', '/v', 'MS UI Gothic',
                 '/t', 'REG_SZ', '/d', 'IPAGothic', '/f'])
        box.popen(['msiexec', '/i', box.windows_path(package)], tmp_path / 'msiexec.log', debug='-all')
        found = winebox.wait_until(lambda: [w for w in windows(display) if 'Pelkor Service' in w[1]], 90)
        assert found, windows(display)
        window = found[0][0]
        # The page has finished drawing when two grabs of its pixels agree.
        grabs = [None]

        def drawn():
            grabs.append(subprocess.run(['import', '-display', display, '-window', window, 'rgb:-'],
                                        capture_output=True, check=True, timeout=60).stdout)
            return grabs[-1] == grabs[-2]
        assert winebox.wait_until(drawn, 30, interval=0.5)
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        shot = ARTIFACTS / 'wizard-welcome.png'
        subprocess.run(['import', '-display', display, '-window', window, str(shot)], check=True,
                       timeout=60)
        large = tmp_path / 'large.png'
        subprocess.run(['convert', str(shot), '-scale', '200%', str(large)], check=True, timeout=60)
        text = subprocess.run(['tesseract', str(large), '-', '-l', 'jpn'], capture_output=True,
                              check=True, timeout=120).stdout.decode().replace(' ', '')
        seen = [word for word in WORDS if word in text]
        assert len(seen) >= 2, text
        assert re.fullmatch(r'Pelkor Service \d{8}', found[0][1])  # titled with the product name
