"""The shipped 32-bit programs read as files: what they link against, and
their message table, version blocks and icons as Windows reads them
(through the probe, which loads a program as data)."""
import re
import subprocess

import pytest

import pelkor_build
import pelkor_files as pf


@pytest.fixture
def probe(wine, programs, shipped):
    exe = wine.windows_path(programs / 'test' / 'probe.exe')

    def run(command, *args, program='pelkor.exe'):
        target = wine.windows_path(shipped / program)
        result = wine.run([exe, command, target] + [str(a) for a in args])
        assert result.returncode == 0, result.stdout
        return result.stdout.decode().replace('\r\n', '\n')
    return run


def version_strings(output):
    version = dict(line.split('=', 1) for line in output.split('\n') if line)
    fixed = {k: version.pop(k) for k in ('FixedFileVersion', 'FixedProductVersion', 'Translation')}
    return fixed, {k: bytes.fromhex(v).decode('utf-16-le') for k, v in version.items()}


@pytest.mark.parametrize('program, subsystem, dlls', [
    ('pelkor.exe', 3, ['advapi32.dll', 'kernel32.dll', 'msvcrt.dll', 'wininet.dll']),  # console
    ('setup.exe', 2, ['advapi32.dll', 'kernel32.dll', 'msvcrt.dll', 'user32.dll']),  # windowed
], ids=['pelkor', 'setup'])
def test_is_a_32_bit_program_on_system_dlls_and_msvcrt_only(shipped, program, subsystem, dlls):
    headers = subprocess.run(['i686-w64-mingw32-objdump', '-p', str(shipped / program)],
                             capture_output=True, text=True, check=True).stdout
    assert 'file format pei-i386' in headers
    assert re.search(r'Subsystem\s+0000000%d' % subsystem, headers)
    assert sorted(d.lower() for d in re.findall(r'DLL Name: (\S+)', headers)) == dlls


def test_setup_fits_in_front_of_the_package_offset_with_its_icons_and_version(shipped, probe):
    assert (shipped / 'setup.exe').stat().st_size <= 45056 < 61440
    fixed, strings = version_strings(probe('version', program='setup.exe'))
    assert fixed['Translation'] == '041104b0'
    assert strings == {'FileDescription': 'Setup', 'InternalName': 'Setup',
                       'OriginalFilename': 'setup.exe', 'ProductName': 'setup',
                       'FileVersion': '1, 0, 1, 0', 'ProductVersion': '1, 0, 1, 0'}
    images = probe('icons', 101, program='setup.exe').split()
    assert sorted(images) == sorted(f'{px}x{px}@{bits}' for px in (16, 32, 48) for bits in (4, 8, 32))


def test_message_table_carries_every_catalogue_text_in_code_page_932(probe):
    output = probe('messages', *[hex(i) for i in pf.TEXTS])
    found = dict(line.split(' ') for line in output.split('\n') if line)
    for message_id, text in pf.TEXTS.items():
        expected = (text + '\r\n').encode('cp932')
        assert bytes.fromhex(found['0x%08X' % message_id]) == expected, hex(message_id)


def test_version_block_and_icon(probe):
    # The project's version; its text form: 1.0.0 reads "1.00".
    major, minor, patch = pelkor_build.project_version().split('.')
    fixed, strings = version_strings(probe('version'))
    version = f'{major}.{minor}.{patch}.0'
    assert fixed == {'FixedFileVersion': version, 'FixedProductVersion': version,
                     'Translation': '041104b0'}  # Japanese, UTF-16
    assert strings['FileDescription'] == 'pelkor サービス'
    assert strings['ProductName'] == 'pelkor サービス'
    assert strings['FileVersion'] == strings['ProductVersion'] == f'{major}.{minor}{patch}'
    assert probe('icons', 128).split() == ['48x48@8', '32x32@8', '16x16@8']


def test_settings_template_holds_the_defaults_in_code_page_932_with_crlf():
    raw = (pf.ROOT / 'resources' / 'pelkor.ini').read_bytes()
    assert raw.endswith(b'\r\n') and b'\n' not in raw.replace(b'\r\n', b'')
    lines = raw.decode('cp932').split('\r\n')[:-1]
    keys = [line for line in lines if line and not line.startswith(';')]
    assert keys == ['[setting]', 'url=', 'interval=600', 'log=0', 'timeout=10', '[log]', 'lastlog=']
    # every key has its Japanese comment right above it, and blank lines part the keys
    for key in ('url=', 'interval=600', 'log=0', 'timeout=10'):
        above = lines[lines.index(key) - 1]
        assert above.startswith(';') and any('\u3040' <= c <= '\u9fff' for c in above), key
    assert lines[lines.index('[log]') - 1] == ''
