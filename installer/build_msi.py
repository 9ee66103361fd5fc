#!/usr/bin/python3
"""Builds the installer package from pelkor.wxs: wixl compiles the files,
registry values, service, upgrade rules and standard sequences; msibuild then
adds what wixl 0.101 cannot express: code page 932 for the database and the
summary information (template "Intel;1041"), the first-sequence flag of
DIRCA_TARGETDIR, the two error actions, the version of pelkor.exe, the
settings component's attribute and access list, the settings given as
properties (given_settings.py) and the wizard tables of wizard.py.

The product's version is pelkor.exe's own (its first three fields), so the
project's version in CMakeLists.txt is the only one to change for a release.

    build_msi.py --exe build/win32/pelkor.exe --ini resources/pelkor.ini \\
                 --output dist/install.msi [--date YYYYMMDD] [--product-code GUID]

Each build has a new package code, and a new product code unless one is
given. Needs wixl, msibuild and msiinfo (msitools)."""
import argparse
import datetime
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree

import given_settings  # noqa: E402
import wizard  # noqa: E402

CODEPAGE = 932
TEMPLATE = 'Intel;1041'
SCHEMA = 200
WORD_COUNT = 2  # compressed, long file names
NEVER_OVERWRITE = 0x80  # msidbComponentAttributesNeverOverwrite
GENERIC_ALL = 0x10000000
# The settings file holds passwords: its access list, in place of the one it
# would take from the system folder (where Users may read), names only
# Administrators (LocalSystem gets full control in every list the installer
# makes). Wine's msi ignores the table; the service sets the same list.
LOCK_SCHEMA = ([('LockObject', 's72'), ('Table', 's32'), ('Domain', 'S255'), ('User', 's255'),
                ('Permission', 'I4')],
               ['LockObject', 'Table', 'Domain', 'User'])
LOCK_ROWS = [('PelkorIni', 'File', None, 'Administrators', GENERIC_ALL)]
# wixl and msibuild convert text to the database's code page only with a
# Japanese Windows language in their environment; without it Japanese
# strings are stored empty.
TOOL_ENV = dict(os.environ, WINDOWS_LANGUAGE='ja_JP')


def guid(text):
    return '{%s}' % str(uuid.UUID(text)).upper()


def file_version(exe):
    """(version, language) from the version block of a Windows program:
    "a.b.c.d" from VS_FIXEDFILEINFO and the first language of its
    Translation entry, as the File table wants them."""
    data = exe.read_bytes()
    fixed = data.find(struct.pack('<I', 0xFEEF04BD))
    if fixed < 0:
        raise SystemExit(f'{exe}: no version block')
    ms, ls = struct.unpack_from('<II', data, fixed + 8)
    version = f'{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}'
    name = 'Translation\0'.encode('utf-16-le')
    at = data.find(name, fixed)
    if at < 0:
        raise SystemExit(f'{exe}: no Translation in the version block')
    value = (at + len(name) + 3) & ~3  # the value starts on a 32-bit boundary
    language, = struct.unpack_from('<H', data, value)
    return version, str(language)


def write_idt(path, columns, keys, rows, table=None):
    """An IDT archive file (UTF-8, as msibuild reads it); None is empty."""
    table = table or path.stem
    lines = ['\t'.join(name for name, _ in columns), '\t'.join(kind for _, kind in columns),
             '\t'.join([table] + keys)]
    for values in rows:
        lines.append('\t'.join('' if v is None else str(v) for v in values))
    path.write_bytes(('\r\n'.join(lines) + '\r\n').encode('utf-8'))


def properties(msi):
    out = subprocess.run(['msiinfo', 'export', str(msi), 'Property'], env=TOOL_ENV, check=True,
                         capture_output=True).stdout.decode('utf-8')
    return dict(line.split('\t', 1) for line in out.splitlines()[3:] if '\t' in line)


def sql_string(text):
    assert "'" not in text
    return "'" + text + "'"


def insert(table, columns, values):
    """An INSERT of one row; msibuild's SQL has no NULL: None leaves a column out."""
    pairs = [(c, v) for c, v in zip(columns, values) if v is not None]
    return 'INSERT INTO `%s` (%s) VALUES (%s)' % (
        table, ','.join('`%s`' % c for c, _ in pairs),
        ','.join(str(v) if isinstance(v, int) else sql_string(v) for _, v in pairs))


def product_version(version):
    """The ProductVersion of a program version a.b.c.0: a.b.c (the installer
    compares only three fields between products)."""
    fields = version.split('.')
    if fields[3] != '0':
        raise SystemExit(f'version {version}: the fourth field must be 0')
    return '.'.join(fields[:3])


def build(exe, ini, output, date, product_code):
    version, language = file_version(exe)
    with tempfile.TemporaryDirectory(prefix='pelkor-msi-') as work:
        work = pathlib.Path(work)
        # wixl looks for a File's Source relative to where it runs.
        shutil.copyfile(exe, work / 'pelkor.exe')
        shutil.copyfile(ini, work / 'pelkor.ini')
        msi = work / 'install.msi'
        subprocess.run(['wixl', '-a', 'x86', '-o', str(msi),
                        '-D', 'ProductCode=' + product_code.strip('{}'), '-D', 'BuildDate=' + date,
                        '-D', 'Version=' + product_version(version),
                        str(HERE / 'pelkor.wxs')], cwd=work, env=TOOL_ENV, check=True)
        props = properties(msi)

        (work / '_ForceCodepage.idt').write_bytes(b'\r\n\r\n%d\t_ForceCodepage\r\n' % CODEPAGE)
        imports = [work / '_ForceCodepage.idt']
        for table, (columns, keys) in wizard.SCHEMAS.items():
            write_idt(work / f'{table}.idt', columns, keys, wizard.TABLES[table])
            imports.append(work / f'{table}.idt')
        for table, (columns, keys), rows in [
                ('LockPermissions', LOCK_SCHEMA, LOCK_ROWS),
                ('IniFile', given_settings.INI_SCHEMA, given_settings.ini_rows())]:
            write_idt(work / f'{table}.idt', columns, keys, rows)
            imports.append(work / f'{table}.idt')
        queries = [
            # Set TARGETDIR only once where both sequences hold the action.
            "UPDATE `CustomAction` SET `Type`=307 WHERE `Action`='DIRCA_TARGETDIR'",
            "INSERT INTO `CustomAction` (`Action`,`Type`,`Target`) "
            "VALUES ('ERRCA_CANCELNEWERVERSION',19,'[VSDVERSIONMSG]')",
            "INSERT INTO `CustomAction` (`Action`,`Type`,`Target`) "
            "VALUES ('ERRCA_UIANDADVERTISED',19,'[VSDUIANDADVERTISED]')",
            "INSERT INTO `InstallExecuteSequence` (`Action`,`Condition`,`Sequence`) "
            "VALUES ('ERRCA_CANCELNEWERVERSION','NEWERPRODUCTFOUND AND NOT Installed',201)",
            "INSERT INTO `AdminExecuteSequence` (`Action`,`Condition`,`Sequence`) "
            "VALUES ('DIRCA_TARGETDIR','TARGETDIR=\"\"',750)",
            f"UPDATE `File` SET `Version`={sql_string(version)}, "
            f"`Language`={sql_string(language)} WHERE `File`='PelkorExe'",
            f"UPDATE `Component` SET `Attributes`={NEVER_OVERWRITE} "
            "WHERE `Component`='C_PelkorIni'",
            # The settings reach the execute sequence even where a per-machine
            # installation runs elevated for a user who is not an administrator.
            "UPDATE `Property` SET `Value`=" + sql_string(';'.join(
                [props['SecureCustomProperties']] + given_settings.PROPERTIES)) +
            " WHERE `Property`='SecureCustomProperties'",
        ]
        for component in given_settings.components():
            queries.append(insert('Component', ['Component', 'ComponentId', 'Directory_',
                                                'Attributes', 'Condition'], component))
            queries.append(insert('FeatureComponents', ['Feature_', 'Component_'],
                                  ('DefaultFeature', component[0])))
        for prop in given_settings.property_rows():
            queries.append(insert('Property', ['Property', 'Value'], prop))
        for action, kind, prop, sequence in given_settings.clearing_actions():
            queries.append(insert('CustomAction', ['Action', 'Type', 'Source'],
                                  (action, kind, prop)))
            queries.append(insert('InstallExecuteSequence', ['Action', 'Sequence'],
                                  (action, sequence)))
        command = ['msibuild', str(msi)]
        for idt in imports:
            command += ['-i', str(idt)]
        for query in queries:
            command += ['-q', query]
        subprocess.run(command, env=TOOL_ENV, check=True)

        # The summary information is written byte for byte: code page 932.
        name, maker = props['ProductName'], props['Manufacturer']
        now = datetime.datetime.now().strftime('%Y/%m/%d %H:%M:%S')
        summary = [
            (1, CODEPAGE), (2, name), (3, name), (4, maker), (5, 'Installer'),
            (6, f'このインストーラ データベースには、{name} のインストールに必要な'
                'ロジックとデータが含まれています。'),
            (7, TEMPLATE), (9, guid(str(uuid.uuid4()))), (12, now), (13, now),
            (14, SCHEMA), (15, WORD_COUNT), (18, 'msitools (wixl, msibuild)'), (19, 2)]
        lines = ['PropertyId\tValue', 'i2\tl255', '_SummaryInformation\tPropertyId']
        lines += [f'{pid}\t{value}' for pid, value in summary]
        (work / '_SummaryInformation.idt').write_bytes(
            ('\r\n'.join(lines) + '\r\n').encode('cp932'))
        subprocess.run(['msibuild', str(msi), '-i', str(work / '_SummaryInformation.idt')],
                       env=TOOL_ENV, check=True)

        output.parent.mkdir(parents=True, exist_ok=True)
        shutil.move(str(msi), str(output))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--exe', type=pathlib.Path, required=True,
                        help='the service program to install')
    parser.add_argument('--ini', type=pathlib.Path, required=True,
                        help='the settings template (resources/pelkor.ini)')
    parser.add_argument('--output', '-o', type=pathlib.Path, required=True)
    parser.add_argument('--date', default=datetime.date.today().strftime('%Y%m%d'),
                        help='build date in the product name, YYYYMMDD (default: today)')
    parser.add_argument('--product-code', default=str(uuid.uuid4()),
                        help='product code GUID (default: a new one)')
    args = parser.parse_args()
    for path in (args.exe, args.ini):
        if not path.is_file():
            parser.error(f'{path}: no such file')
    if not re.fullmatch(r'\d{8}', args.date):
        parser.error('--date takes eight digits, YYYYMMDD')
    try:
        product_code = guid(args.product_code)
    except ValueError:
        parser.error('--product-code takes a GUID')
    build(args.exe, args.ini, args.output, args.date, product_code)


if __name__ == '__main__':
    main()
