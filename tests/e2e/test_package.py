"""The installer package as built from the shipped 32-bit program, read back
with msitools: its summary information, its tables and its cabinet."""
import pathlib
import re
import subprocess

import pytest

import pelkor_build

ROOT = pathlib.Path(__file__).resolve().parents[2]
TEMPLATE = ROOT / 'resources' / 'pelkor.ini'
DATE = '20261231'
PRODUCT_NAME = 'Pelkor Service ' + DATE
GUID = re.compile(r'\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}')
EVENT_SOURCE_KEY = 'SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\PELKOR_SVC'
VERSION = pelkor_build.project_version()  # the package takes it from the program
# Every key of [setting]: each may be given to the installer in capitals.
SETTING_KEYS = ['url', 'interval', 'log', 'timeout', 'okbody', 'retry', 'checkurl', 'force',
                'agent', 'user', 'password', 'proxy']
SECRETS = ['URL', 'USER', 'PASSWORD']
NEVER_OVERWRITE, TRANSITIVE, GENERIC_ALL = 0x80, 0x40, 0x10000000
JAPANESE = {
    'VSDVERSIONMSG': 'このプロダクトの新しいバージョンが既にインストールされているため'
                     'インストールできません。',
    'VSDUIANDADVERTISED': 'このアドバタイズされたアプリケーションは安全ではないためインストール'
                          'されません。管理者に連絡してパッケージのインストール ユーザー '
                          'インターフェイスのオプションを基本に変更してください。',
    'description': '定期的に特定URLにアクセスします。Dynamic DNSのIPアップデータ用。',
}


class Package:
    """One built package: its file, its tables as {name: [row dict]} and its
    summary information as {property id: text}, both read with msidump."""

    def __init__(self, path, dump):
        self.path = path
        self.dump = dump
        dump.mkdir()
        subprocess.run(['msidump', '-t', '-s', '-d', str(dump), str(path)], check=True,
                       capture_output=True)

    def table(self, name):
        path = self.dump / f'{name}.idt'
        if not path.exists():
            return []
        lines = path.read_bytes().decode('utf-8').split('\r\n')
        columns = lines[0].split('\t')
        return [dict(zip(columns, line.split('\t'))) for line in lines[3:] if line]

    def keyed(self, name, key=None):
        return {row[key or next(iter(row))]: row for row in self.table(name)}

    def properties(self):
        return {row['Property']: row['Value'] for row in self.table('Property')}

    def summary(self):
        # Written byte for byte in the package's code page.
        lines = (self.dump / '_SummaryInformation.idt').read_bytes().decode('cp932')
        return dict(line.split('\t', 1) for line in lines.split('\r\n')[3:] if line)


@pytest.fixture(scope='module')
def builds(shipped, tmp_path_factory):
    tmp = tmp_path_factory.mktemp('package')
    return [Package(pelkor_build.build_package(shipped / 'pelkor.exe', tmp / f'{n}.msi', date=DATE),
                    tmp / f'dump{n}')
            for n in (1, 2)]


@pytest.fixture(scope='module')
def package(builds):
    return builds[0]


def test_summary_information_and_code_page(package):
    summary = package.summary()
    assert summary['1'] == '932'
    assert summary['2'] == PRODUCT_NAME  # title
    assert summary['7'] == 'Intel;1041'
    assert summary['14'] == '200'
    assert summary['15'] == '2'  # compressed, long file names
    assert summary['4'] == package.properties()['Manufacturer']
    assert GUID.fullmatch(summary['9'])
    # The database's own code page, as msidump exports it.
    assert (package.dump / '_ForceCodepage.idt').read_bytes().split(b'\r\n')[2] == \
        b'932\t_ForceCodepage'


def test_product_properties(package):
    props = package.properties()
    assert props['ProductName'] == PRODUCT_NAME
    assert props['ProductVersion'] == VERSION
    assert props['ProductLanguage'] == '1041'
    assert props['ALLUSERS'] == '2'
    assert props['DISABLEADVTSHORTCUTS'] == '1'
    assert props['SecureCustomProperties'].split(';') == \
        ['PREVIOUSVERSIONSINSTALLED', 'NEWERPRODUCTFOUND'] + [k.upper() for k in SETTING_KEYS]
    assert props['MsiHiddenProperties'].split(';') == SECRETS
    assert props['Manufacturer'] and props['ARPCONTACT'] == props['Manufacturer']
    assert GUID.fullmatch(props['UpgradeCode']) and GUID.fullmatch(props['ProductCode'])


def test_each_build_has_its_own_product_and_package_codes_under_one_upgrade_code(builds):
    first, second = ({**b.properties(), 'package': b.summary()['9']} for b in builds)
    assert first['UpgradeCode'] == second['UpgradeCode']
    assert first['ProductCode'] != second['ProductCode']
    assert first['package'] != second['package']


def test_japanese_texts_are_stored_in_code_page_932(package):
    props = package.properties()
    stored = {'VSDVERSIONMSG': props['VSDVERSIONMSG'],
              'VSDUIANDADVERTISED': props['VSDUIANDADVERTISED'],
              'description': package.table('ServiceInstall')[0]['Description']}
    assert stored == JAPANESE
    raw = package.path.read_bytes()
    for text in JAPANESE.values():
        assert text.encode('cp932') in raw


def test_files_in_the_system_folder_from_one_embedded_cabinet(package, shipped, tmp_path):
    files = package.keyed('File', 'FileName')
    components = package.keyed('Component')
    exe, ini = files['pelkor.exe'], files['pelkor.ini']
    assert len(files) == 2 and {exe['Sequence'], ini['Sequence']} == {'1', '2'}
    for row, source in [(exe, shipped / 'pelkor.exe'), (ini, TEMPLATE)]:
        assert int(row['Attributes']) & 512  # vital
        assert int(row['FileSize']) == source.stat().st_size
        component = components[row['Component_']]
        assert component['Directory_'] == 'SystemFolder'
        assert component['KeyPath'] == row['File']
        assert int(component['Attributes']) & 3 == 0  # installed locally
    assert (exe['Version'], exe['Language']) == (VERSION + '.0', '1041')
    assert ini['Version'] == ''

    media = package.table('Media')
    assert len(media) == 1 and media[0]['LastSequence'] == '2'
    cabinet = media[0]['Cabinet']
    assert cabinet.startswith('#')
    assert (package.dump / '_Streams' / cabinet[1:]).exists()
    subprocess.run(['msiextract', '-C', str(tmp_path), str(package.path)], check=True,
                   capture_output=True)
    extracted = {p.name: p.read_bytes() for p in tmp_path.rglob('*') if p.is_file()}
    assert extracted == {'pelkor.exe': (shipped / 'pelkor.exe').read_bytes(),
                         'pelkor.ini': TEMPLATE.read_bytes()}


def test_event_source_values_each_the_key_path_of_its_own_component(package):
    components = package.keyed('Component')
    values = {row['Name']: row for row in package.table('Registry')}
    assert {name: (row['Root'], row['Key'], row['Value']) for name, row in values.items()} == {
        # The installed program's path; no # in front keeps it a plain string.
        'EventMessageFile': ('2', EVENT_SOURCE_KEY, '[#PelkorExe]'),
        'TypesSupported': ('2', EVENT_SOURCE_KEY, '#5'),
    }
    for row in values.values():
        component = components[row['Component_']]
        assert component['KeyPath'] == row['Registry']
        assert int(component['Attributes']) & 4  # the key path is a registry value
    feature = package.table('Feature')
    assert [(f['Feature'], f['Level']) for f in feature] == [('DefaultFeature', '1')]
    assert sorted(r['Component_'] for r in package.table('FeatureComponents')) == \
        sorted(components)
    assert len(components) == 4 + len(SETTING_KEYS)


def test_service_installed_and_controlled_with_the_program(package):
    exe_component = package.keyed('File', 'FileName')['pelkor.exe']['Component_']
    [service] = package.table('ServiceInstall')
    assert {k: v for k, v in service.items() if k != 'ServiceInstall'} == {
        'Name': 'pelkorService', 'DisplayName': 'Pelkor Service', 'ServiceType': '272',
        'StartType': '2', 'ErrorControl': '1', 'LoadOrderGroup': '', 'Dependencies': '',
        'StartName': '', 'Password': '', 'Arguments': '', 'Component_': exe_component,
        'Description': JAPANESE['description']}
    [control] = package.table('ServiceControl')
    assert (control['Name'], control['Event'], control['Arguments'], control['Wait'],
            control['Component_']) == ('pelkorService', '163', '', '1', exe_component)


def test_upgrade_rules_and_custom_actions(package):
    upgrade_code = package.properties()['UpgradeCode']
    rules = {row['ActionProperty']: row for row in package.table('Upgrade')}
    assert {prop: (r['UpgradeCode'], r['VersionMin'], r['VersionMax'], r['Language'],
                   int(r['Attributes'])) for prop, r in rules.items()} == {
        # 256: minimum included; 2: detect only; maximum excluded in both
        'PREVIOUSVERSIONSINSTALLED': (upgrade_code, '1.0.0.0', VERSION, '', 256),
        'NEWERPRODUCTFOUND': (upgrade_code, VERSION, '', '', 256 | 2),
    }
    actions = {row['Action']: (int(row['Type']), row['Source'], row['Target'])
               for row in package.table('CustomAction')}
    assert actions == {
        'DIRCA_TARGETDIR': (51 | 256, 'TARGETDIR', '[ProgramFilesFolder][Manufacturer]'),
        'ERRCA_CANCELNEWERVERSION': (19, '', '[VSDVERSIONMSG]'),
        'ERRCA_UIANDADVERTISED': (19, '', '[VSDUIANDADVERTISED]'),
        # No target: the property is emptied, so Wine's log of every
        # property at the end holds no secret.
        **{f'CLEARCA_{name}': (51, name, '') for name in SECRETS},
    }
    for table in ('LaunchCondition', 'AppSearch', 'Shortcut'):
        assert package.table(table) == [], table


EXECUTE_SEQUENCE = [
    ('FindRelatedProducts', 200, ''),
    ('ERRCA_CANCELNEWERVERSION', 201, 'NEWERPRODUCTFOUND AND NOT Installed'),
    ('DIRCA_TARGETDIR', 750, 'TARGETDIR=""'),
    ('InstallInitialize', 1500, ''),
    ('ProcessComponents', 1600, ''),
    ('StopServices', 1900, 'VersionNT'),
    # The earlier version goes once this one's components are registered and
    # the service stopped, before any file is replaced, so the components
    # they share stay.
    ('InstallExecute', 1950, ''),
    ('RemoveExistingProducts', 1960, ''),
    ('DeleteServices', 2000, 'VersionNT'),
    ('RemoveRegistryValues', 2600, ''),
    ('RemoveFiles', 3500, ''),
    ('InstallFiles', 4000, ''),
    ('WriteRegistryValues', 5000, ''),
    ('WriteIniValues', 5100, ''),
    ('InstallServices', 5800, 'VersionNT'),
    ('StartServices', 5900, 'VersionNT'),
    ('InstallFinalize', 6600, ''),
    ('CLEARCA_URL', 6601, ''),
    ('CLEARCA_USER', 6602, ''),
    ('CLEARCA_PASSWORD', 6603, ''),
]


@pytest.mark.parametrize('action, sequence, condition', EXECUTE_SEQUENCE,
                         ids=[row[0] for row in EXECUTE_SEQUENCE])
def test_execute_sequence(package, action, sequence, condition):
    row = package.keyed('InstallExecuteSequence')[action]
    assert (int(row['Sequence']), row['Condition']) == (sequence, condition)


def test_the_settings_file_is_never_overwritten_and_open_to_system_and_administrators(package):
    components = package.keyed('Component')
    files = package.keyed('File', 'FileName')
    ini_component = components[files['pelkor.ini']['Component_']]
    assert int(ini_component['Attributes']) & NEVER_OVERWRITE
    assert not int(components[files['pelkor.exe']['Component_']]['Attributes']) & NEVER_OVERWRITE
    # LocalSystem has full control in every list the installer makes.
    assert [(r['LockObject'], r['Table'], r['Domain'], r['User'], int(r['Permission']))
            for r in package.table('LockPermissions')] == \
        [(files['pelkor.ini']['File'], 'File', '', 'Administrators', GENERIC_ALL)]


def test_each_setting_given_as_a_property_is_written_only_when_given(package):
    props = package.properties()
    components = package.keyed('Component')
    features = {r['Component_'] for r in package.table('FeatureComponents')}
    rows = {r['Key']: r for r in package.table('IniFile')}
    assert sorted(rows) == sorted(SETTING_KEYS)
    for key, row in rows.items():
        name = key.upper()
        assert (row['FileName'], row['DirProperty'], row['Section'], row['Value'],
                row['Action']) == ('pelkor.ini', 'SystemFolder', 'setting', f'[{name}]', '0'), key
        component = components[row['Component_']]
        # A default no one gives stands for "not given": a given empty value
        # differs from it. Transitive: the condition counts at every repair.
        assert props[name] and component['Condition'] == f'{name} <> "{props[name]}"', key
        assert int(component['Attributes']) & TRANSITIVE and not component['KeyPath'], key
        assert row['Component_'] in features, key
    # A key not given at a repair must not lose the user's line.
    assert 'RemoveIniValues' not in package.keyed('InstallExecuteSequence')
    [text] = [r for r in package.table('ActionText') if r['Action'] == 'WriteIniValues']
    assert text['Template'] and '[4]' not in text['Template']  # the value: may be a secret


INSTALL_FORMS = {'WelcomeForm', 'ResumeForm', 'MaintenanceForm', 'ProgressForm', 'FinishedForm',
                 'UserExitForm', 'FatalErrorForm'}
ADMIN_FORMS = {'AdminWelcomeForm', 'AdminProgressForm', 'AdminFinishedForm', 'AdminUserExitForm',
               'AdminFatalErrorForm'}


def test_ui_sequences_show_the_wizard_and_refuse_what_they_must(package):
    dialogs = package.keyed('Dialog')
    for table, forms, prefix in [('InstallUISequence', INSTALL_FORMS, ''),
                                 ('AdminUISequence', ADMIN_FORMS, 'Admin')]:
        sequence = package.keyed(table)
        assert {action for action in sequence if action in dialogs} == forms, table
        exits = {int(sequence[prefix + form]['Sequence'])
                 for form in ('FinishedForm', 'UserExitForm', 'FatalErrorForm')}
        assert exits == {-1, -2, -3}, table
    ui = package.keyed('InstallUISequence')
    refusals = [(a, ui[a]['Condition'], int(ui[a]['Sequence'])) for a in ui if 'ERRCA' in a]
    assert sorted(refusals) == [
        ('ERRCA_CANCELNEWERVERSION', 'NEWERPRODUCTFOUND AND NOT Installed', 201),
        ('ERRCA_UIANDADVERTISED', 'ProductState=1', 5)]
    # Both come before the first page.
    assert max(s for _, _, s in refusals) < min(int(ui[f]['Sequence']) for f in INSTALL_FORMS
                                               if int(ui[f]['Sequence']) > 0)


def test_wizard_dialogs_hang_together(package):
    dialogs = package.keyed('Dialog')
    controls = {(c['Dialog_'], c['Control']): c for c in package.table('Control')}
    assert INSTALL_FORMS | ADMIN_FORMS | {'ConfirmInstallForm', 'AdminConfirmInstallForm'} \
        <= set(dialogs)
    for name, dialog in dialogs.items():
        assert dialog['Title'] == '[ProductName]', name
        for column in ('Control_First', 'Control_Default', 'Control_Cancel'):
            assert not dialog[column] or (name, dialog[column]) in controls, (name, column)
    for (dialog, name), control in controls.items():
        assert not control['Control_Next'] or (dialog, control['Control_Next']) in controls
    for event in package.table('ControlEvent'):
        assert (event['Dialog_'], event['Control_']) in controls, event
        if event['Event'] in ('NewDialog', 'SpawnDialog'):
            assert event['Argument'] in dialogs, event
    for mapping in package.table('EventMapping'):
        assert (mapping['Dialog_'], mapping['Control_']) in controls, mapping

    props = package.properties()
    styles = package.keyed('TextStyle')
    assert props['DefaultUIFont'] in styles
    for control in controls.values():
        for style in re.findall(r'\{\\(\w+)\}', control['Text']):
            assert style in styles, control
    error = props['ErrorDialog']
    assert int(dialogs[error]['Attributes']) & 0x10000  # the error dialog flag
    assert {c for d, c in controls if d == error} == set('ACINORY') | {'ErrorText'}
    group = [c for c in controls.values() if c['Type'] == 'RadioButtonGroup']
    choices = {r['Property'] for r in package.table('RadioButton')}
    assert {c['Property'] for c in group} == choices and all(p in props for p in choices)


def test_control_texts_escape_literal_brackets(package):
    for control in package.table('Control'):
        # What stays after escapes and property references must hold no bracket.
        text = control['Text'].replace('[\\[]', '').replace('[\\]]', '')
        text = re.sub(r'\[[A-Za-z_][A-Za-z0-9_.]*\]', '', text)
        assert '[' not in text and ']' not in text, control
