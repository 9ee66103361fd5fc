#!/usr/bin/python3
"""Builds the installer package from pelkor.wxs: wixl compiles the files,
registry values, service, upgrade rules and standard sequences; msibuild then
adds what wixl 0.101 cannot express: code page 932 for the database and the
summary information (template "Intel;1041"), the first-sequence flag of
DIRCA_TARGETDIR, the two error actions, the version of pelkor.exe and the
wizard tables of wizard.py.

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

import wizard  # noqa: E402

CODEPAGE = 932
TEMPLATE = 'Intel;1041'
SCHEMA = 200
WORD_COUNT = 2  # compressed, long file names
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
                        str(HERE / 'pelkor.wxs')], cwd=work, env=TOOL_ENV, check=True)

        (work / '_ForceCodepage.idt').write_bytes(b'\r\n\r\n%d\t_ForceCodepage\r\n' % CODEPAGE)
        imports = [work / '_ForceCodepage.idt']
        for table, (columns, keys) in wizard.SCHEMAS.items():
            write_idt(work / f'{table}.idt', columns, keys, wizard.TABLES[table])
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
        ]
        command = ['msibuild', str(msi)]
        for idt in imports:
            command += ['-i', str(idt)]
        for query in queries:
            command += ['-q', query]
        subprocess.run(command, env=TOOL_ENV, check=True)

        # The summary information is written byte for byte: code page 932.
        props = properties(msi)
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
