"""setup under Wine: building and extracting setup files byte for byte, the
failure paths with their message boxes (read from Wine's relay trace of
MessageBoxA), and the launch of the installer, first through a stand-in
msiexec that records what it was given, then through Wine's own; and what
setup does with entries planted beside it and in the temporary folder."""
import codecs
import os
import pathlib
import re
import shutil
import subprocess

import pytest

import pelkor_build
import winebox

DATA = pathlib.Path(__file__).resolve().parent / 'data'
OFFSET = 61440
MESSAGE_BOX = re.compile(r'Call user32\.MessageBoxA\(\w+,\w+ "((?:[^"\\]|\\.)*)"')
NO_PACKAGE_GIVEN = '統合するmsiファイルを指定して下さい。'
PACKAGE_NOT_FOUND = '指定されたmsiファイルが見つかりません。'
OUTPUT_NOT_CREATED = '出力ファイルの作成に失敗しました'
PACKAGE_UNREADABLE = 'msiデータ読み込みに失敗しました'


def pattern(size, seed):
    return bytes((i * 7 + seed) % 251 for i in range(size))


class Setup:
    """setup.exe in C:\\dl of a Wine box."""

    def __init__(self, box, programs):
        self.box = box
        self.programs = programs
        self.dir = box.unix_path('C:\\dl')
        self.dir.mkdir(parents=True, exist_ok=True)
        self.bare = (programs / 'setup.exe').read_bytes()
        (self.dir / 'setup.exe').write_bytes(self.bare)
        box.run(['reg', 'add', 'HKCU\\Software\\Wine\\Debug', '/v', 'RelayInclude', '/t', 'REG_SZ',
                 '/d', 'user32.MessageBoxA', '/f'])

    def run(self, program, *args, env=None):
        """(exit code as the shell sees it, [message box texts])"""
        result = self.box.run(['C:\\dl\\' + program] + list(args), debug='+relay', env=env)
        trace = result.stderr.decode('latin-1')
        messages = [codecs.escape_decode(m.encode('latin-1'))[0].decode('cp932')
                    for m in MESSAGE_BOX.findall(trace)]
        return result.returncode, messages

    def full_exit_code(self, command_line, env=None):
        """The whole 32-bit exit code (the shell sees only its low byte)."""
        return self.box.exit_code(self.programs, command_line, env=env)

    def temp(self):
        """%TEMP% of the prefix, as a Windows path."""
        return self.box.run(['cmd', '/c', 'echo %TEMP%']).stdout.decode().strip()

    def file(self, name):
        path = self.dir / name
        return path.read_bytes() if path.exists() else None


@pytest.fixture
def setup(wine, programs):
    return Setup(wine, programs)


def test_create_puts_the_package_at_the_offset_and_extract_gives_it_back(setup):
    package = pattern(100000, 1)
    (setup.dir / 'pkgs').mkdir()
    (setup.dir / 'pkgs' / 'Tool.Pkg.msi').write_bytes(package)
    assert setup.run('setup.exe', '/CREATE', 'C:\\dl\\pkgs\\Tool.Pkg.msi') == (0, [])
    built = setup.file('Tool.Pkg.exe')  # in setup's folder, not the package's
    assert len(setup.bare) < OFFSET
    assert built == setup.bare + bytes(OFFSET - len(setup.bare)) + package

    assert setup.run('Tool.Pkg.exe', '/extract') == (0, [])
    assert setup.file('Tool.Pkg.msi') == package

    # Built again from that setup file with a shorter package: the same bytes
    # as from the bare program, no tail of the longer one.
    (setup.dir / 'small.msi').write_bytes(pattern(3000, 2))
    assert setup.run('Tool.Pkg.exe', '/create', 'C:\\dl\\small.msi') == (0, [])
    assert setup.file('small.exe') == setup.bare + bytes(OFFSET - len(setup.bare)) + pattern(3000, 2)

    # The build's own maker of setup files gives the same bytes.
    made = setup.dir / 'made.exe'
    pelkor_build.make_setup_file(setup.dir / 'setup.exe', setup.dir / 'pkgs' / 'Tool.Pkg.msi', made)
    assert made.read_bytes() == built

    # The bare program carries an empty package.
    assert setup.run('setup.exe', '/Extract') == (0, [])
    assert setup.file('setup.msi') == b''


def test_build_failures_show_their_message_and_end_non_zero(setup):
    assert setup.run('setup.exe', '/create') == (1, [NO_PACKAGE_GIVEN])
    assert setup.run('setup.exe', '/create', 'C:\\dl\\missing.msi') == (1, [PACKAGE_NOT_FOUND])
    assert setup.file('missing.exe') is None

    (setup.dir / 'folder').mkdir()
    assert setup.run('setup.exe', '/create', 'C:\\dl\\folder') == (1, [PACKAGE_UNREADABLE])
    assert setup.file('folder.exe') is None

    # The output would be the running program itself.
    (setup.dir / 'setup.msi').write_bytes(b'package')
    assert setup.run('setup.exe', '/create', 'C:\\dl\\setup.msi') == (1, [OUTPUT_NOT_CREATED])
    assert setup.file('setup.exe') == setup.bare


@pytest.mark.parametrize('given', ['C:\\dl\\mypkg.exe', 'c:\\DL\\.\\MyPkg.EXE'])
def test_create_never_overwrites_the_package_it_was_given(setup, given):
    (setup.dir / 'mypkg.exe').write_bytes(pattern(5000, 5))
    assert setup.run('setup.exe', '/create', given) == (1, [OUTPUT_NOT_CREATED])
    assert setup.file('mypkg.exe') == pattern(5000, 5)


@pytest.mark.parametrize('spelling', ['short_folder_name', 'hard_link'])
def test_create_knows_the_package_by_any_of_its_names(setup, spelling):
    # setup in a folder with a long name, whose 8.3 name Wine makes up.
    folder = setup.dir / 'Setup Files'
    folder.mkdir()
    shutil.copy(setup.dir / 'setup.exe', folder / 'setup.exe')
    (folder / 'mypkg.exe').write_bytes(pattern(5000, 5))
    if spelling == 'short_folder_name':
        listing = setup.box.run(['cmd', '/c', 'dir /x C:\\dl']).stdout.decode('latin-1')
        short = re.search(r'<DIR>\s+(\S+)\s+Setup Files', listing)
        assert short, listing
        given = f'C:\\dl\\{short.group(1)}\\mypkg.exe'
    else:
        (setup.dir / 'other').mkdir()
        os.link(folder / 'mypkg.exe', setup.dir / 'other' / 'mypkg.exe')
        given = 'C:\\dl\\other\\mypkg.exe'
    assert setup.run('Setup Files\\setup.exe', '/create', given) == (1, [OUTPUT_NOT_CREATED])
    assert (folder / 'mypkg.exe').read_bytes() == pattern(5000, 5)


def test_a_planted_dll_beside_setup_is_not_loaded(setup):
    # The message box loads uxtheme.dll once setup runs (not a KnownDLL);
    # Wine is told to prefer a native one found by the search order.
    shutil.copy(setup.programs / 'test' / 'planted.dll', setup.dir / 'uxtheme.dll')
    env = {'WINEDLLOVERRIDES': 'mscoree,mshtml=;uxtheme=n,b'}
    assert setup.run('setup.exe', '/create', env=env) == (1, [NO_PACKAGE_GIVEN])
    assert not setup.box.unix_path('C:\\planted-dll-loaded.txt').exists()


@pytest.fixture
def stand_in(setup, tmp_path):
    """The stand-in msiexec in the system folder, taking the place of Wine's."""
    system = setup.box.unix_path('C:\\windows\\system32')
    shutil.copy(setup.programs / 'test' / 'fake_msiexec.exe', system / 'msiexec.exe')
    log = setup.box.unix_path('C:\\msiexec.log')
    env = {'WINEDLLOVERRIDES': 'mscoree,mshtml=;msiexec.exe=n', 'FAKE_MSIEXEC_LOG': 'C:\\msiexec.log'}

    def runs():
        if not log.exists():
            return []
        text = log.read_bytes().decode('cp932', errors='replace')  # as the ANSI code page has it
        return [line.split('|') for line in text.splitlines()]
    return env, runs


@pytest.mark.parametrize('arguments, command', [
    ('', 'msiexec /i "{pkg}" '),
    ('/qn', 'msiexec /i "{pkg}" /qn'),
    ('/x', 'msiexec /x "{pkg}"'),
    ('/uninstall /qn', 'msiexec /uninstall /qn "{pkg}"'),
    ('/qn TARGETDIR=C:/xdir PROP="Two Words"', 'msiexec /i "{pkg}" /qn TARGETDIR=C:/xdir PROP="Two Words"'),
], ids=['plain', 'qn', 'x', 'uninstall_qn', 'properties'])
def test_launch_hands_the_complete_package_to_the_system_installer(setup, stand_in, arguments, command):
    env, runs = stand_in
    package = pattern(50000, 3)
    (setup.dir / 'pkg.msi').write_bytes(package)
    setup.run('setup.exe', '/create', 'C:\\dl\\pkg.msi')
    # A msiexec.exe planted beside the setup file must never run.
    shutil.copy(setup.programs / 'test' / 'fake_msiexec.exe', setup.dir / 'msiexec.exe')

    temp = setup.temp()
    before = set(os.listdir(setup.box.unix_path(temp)))
    code = setup.full_exit_code(f'C:\\dl\\pkg.exe {arguments}'.strip(),
                                env=dict(env, FAKE_MSIEXEC_EXIT='1603', FAKE_MSIEXEC_COPY='C:\\got.msi'))

    assert code == 1603
    [(program, command_line, size)] = runs()
    given = re.search(r'"([^"]*)"', command_line).group(1)
    assert program.lower() == 'c:\\windows\\system32\\msiexec.exe'
    assert command_line == command.format(pkg=given)
    assert int(size) == len(package)
    assert setup.box.unix_path('C:\\got.msi').read_bytes() == package
    # Its own name, in a folder of its own that was made new and is gone.
    folder, name = given.rsplit('\\', 1)
    assert name == 'pkg.msi' and folder.rsplit('\\', 1)[0].lower() == temp.lower()
    assert folder.rsplit('\\', 1)[1] not in before
    assert set(os.listdir(setup.box.unix_path(temp))) == before


def test_a_japanese_folder_before_x_still_asks_for_removal(setup, stand_in):
    env, runs = stand_in
    (setup.dir / 'install.msi').write_bytes(pattern(3000, 7))
    setup.run('setup.exe', '/create', 'C:\\dl\\install.msi')
    # 表 is 95 5C in code page 932: its trail byte escapes no quote. The
    # text goes on the command line itself: Wine 8 cuts double-byte text
    # passed through the environment.
    text = 'TARGETDIR="C:\\ソフト\\一覧表" /x'
    code = setup.full_exit_code('C:\\dl\\install.exe ' + text, env=dict(env, LANG='ja_JP.UTF-8'))
    assert code == 0
    [(_, command_line, size)] = runs()
    given = re.search(r'"([^"]*\.msi)"', command_line).group(1)
    assert command_line == f'msiexec {text} "{given}"'
    assert int(size) == 3000


def test_two_setups_of_the_same_name_both_reach_the_installer(setup, stand_in):
    env, runs = stand_in
    (setup.dir / 'pkg.msi').write_bytes(pattern(5000, 4))
    setup.run('setup.exe', '/create', 'C:\\dl\\pkg.msi')
    (setup.dir / 'other').mkdir()
    shutil.copy(setup.dir / 'pkg.exe', setup.dir / 'other' / 'pkg.exe')
    temp = setup.box.unix_path(setup.temp())
    before = set(os.listdir(temp))

    # While the installer of the first runs, the second setup starts.
    code = setup.full_exit_code('C:\\dl\\pkg.exe /qn',
                                env=dict(env, FAKE_MSIEXEC_SECOND='C:\\dl\\other\\pkg.exe'))
    assert code == 0
    [first, inner, second] = runs()
    assert int(first[2]) == int(inner[2]) == 5000
    assert first[1] != inner[1]
    assert second == ['second', '0']
    assert set(os.listdir(temp)) == before


def test_a_link_planted_at_the_old_package_path_is_left_alone(setup, stand_in):
    env, runs = stand_in
    victim = setup.box.unix_path('C:\\victim.txt')
    victim.write_bytes(b'not yours')
    link = setup.box.unix_path(setup.temp() + '\\install.msi')  # a Windows link would do the same
    link.symlink_to(victim)
    (setup.dir / 'install.msi').write_bytes(pattern(3000, 6))
    setup.run('setup.exe', '/create', 'C:\\dl\\install.msi')

    assert setup.full_exit_code('C:\\dl\\install.exe /qn', env=env) == 0
    [(_, _, size)] = runs()
    assert int(size) == 3000
    assert os.readlink(link) == str(victim)
    assert victim.read_bytes() == b'not yours'


def test_launch_without_an_installer_to_run_is_no_success(setup):
    # No msiexec.exe in the system folder at all.
    (setup.box.unix_path('C:\\windows\\system32') / 'msiexec.exe').unlink()
    env = {'WINEDLLOVERRIDES': 'mscoree,mshtml=;msiexec.exe=n'}
    assert setup.full_exit_code('C:\\dl\\setup.exe /qn', env=env) == 1601
    assert not list(setup.box.unix_path(setup.temp()).glob('setup-*'))


def test_wines_installer_installs_and_removes_a_real_package(setup, tmp_path):
    source = tmp_path / 'tiny'
    source.mkdir()
    (source / 'marker.txt').write_text("installed by setup's test\n")
    subprocess.run(['wixl', '-o', str(source / 'tiny.msi'), str(DATA / 'tiny.wxs')], cwd=source,
                   check=True, timeout=60)
    shutil.copy(source / 'tiny.msi', setup.dir / 'tiny.msi')
    assert setup.run('setup.exe', '/create', 'C:\\dl\\tiny.msi')[0] == 0

    installed = setup.box.unix_path('C:\\Program Files (x86)\\SetupTest\\marker.txt')
    if winebox.FLAVOUR == 'win32':
        installed = setup.box.unix_path('C:\\Program Files\\SetupTest\\marker.txt')
    assert setup.full_exit_code('C:\\dl\\tiny.exe /qn') == 0
    assert installed.read_text() == "installed by setup's test\n"
    # The uninstall form puts the command text before the package, and
    # msiexec wants the package right behind /x: so /x comes last.
    assert setup.full_exit_code('C:\\dl\\tiny.exe /qn /x') == 0
    assert not installed.exists()
