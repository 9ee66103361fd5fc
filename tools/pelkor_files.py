"""The files a pelkor program keeps beside itself, as the tests read them."""
import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parents[1]
STATUS_LINE = re.compile(rb'^\d{4}/\d{2}/\d{2},\d{2}:\d{2}:\d{2} (.*)$')

# Message IDs and their texts (code page 932 in the program).
TEXTS = {
    0xC0000001: 'メモリエラー。',
    0xC0000065: 'デバイスが開けられませんでした。',
    0xC0000066: 'デバイスがエラーが発生しました。',
    0xC0000067: 'URLを開く事が出来ませんでした。',
    0xC0000068: 'HTTPのステータスコードが正常以外です。',
    0xC0000069: 'HTTP通信中に例外が発生しました。',
    0x800001FF: '接続先URLが設定されていません。',
    0x80000200: 'ログファイルを開く事が出来ませんでした。',
    0x80000201: 'HTTPの戻りデータが0バイトです。',
    0x80000202: '成功の応答ではありません。',
    0x80000203: 'アドレスを確認できませんでした。',
    0x400002BE: 'Pelkorサービスを開始します。',
    0x400002BF: 'Pelkorサービスを終了します。',
    0x400002C0: 'URL取得に成功しました。',
    0x400002C1: 'URL取得中・・・。',
    0x400002C2: 'アドレスに変化はありません。',
    0x4000044D: 'デバイスが開けられました。',
    0x400004ED: 'デバッグモードで動作します。',
    0xC0007530: 'エラー:\r\n%1%2',
    0x80007531: '警告:\r\n%1%2',
    0x40007532: '情報:\r\n%1%2',
}
START, END = 0x400002BE, 0x400002BF
FETCHED, NOT_OK, EXCEPTION = 0x400002C0, 0xC0000068, 0xC0000069
FETCHING = 0x400002C1
URL_NOT_SET, LOG_OPEN_FAILED, EMPTY = 0x800001FF, 0x80000200, 0x80000201
NOT_SUCCESS, ADDRESS_UNCHECKED, ADDRESS_UNCHANGED = 0x80000202, 0x80000203, 0x400002C2
GENERIC_ERROR, GENERIC_WARNING, GENERIC_INFO = 0xC0007530, 0x80007531, 0x40007532


def write_settings(path, url='', interval=600, log=0, timeout=10, **optional):
    """The settings file; optional keys (okbody=..., retry=...) follow timeout."""
    lines = (['[setting]', f'url={url}', f'interval={interval}', f'log={log}',
              f'timeout={timeout}'] + [f'{key}={value}' for key, value in optional.items()] +
             ['', '[log]', 'lastlog='])
    path.write_bytes(('\r\n'.join(lines) + '\r\n').encode('cp932'))


def add_record(path, number, **keys):
    """Appends section [settingN] with keys to a settings file."""
    lines = [f'[setting{number}]'] + [f'{key}={value}' for key, value in keys.items()]
    path.write_bytes(path.read_bytes() + ('\r\n'.join(lines) + '\r\n').encode('cp932'))


def lastlog_bytes(path, key='lastlog'):
    """The raw value of lastlog (or lastlogN) in the settings file, or None."""
    if not path.exists():
        return None
    prefix = key.encode() + b'='
    for line in path.read_bytes().split(b'\r\n'):
        if line.lower().startswith(prefix):
            return line[len(prefix):]
    return None


def lastlog_text(path, key='lastlog'):
    """The message text of the status line, decoded from code page 932."""
    raw = lastlog_bytes(path, key)
    match = STATUS_LINE.match(raw or b'')
    return match.group(1).decode('cp932') if match else None
