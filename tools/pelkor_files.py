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
    0xC000006A: 'HTTPの応答が途中で切れました。',
    0xC000006B: '%1が255バイトを超えています。',
    0xC000006C: '応答%1で停止。ユーザー名とパスワードを確認して下さい。',
    0xC000006D: '応答%1で停止。ホスト名を確認して下さい。',
    0xC000006E: '応答%1で停止。agent=を確認して下さい。',
    0xC000006F: '応答%1で停止。プロバイダのアカウントページを確認して下さい。',
    0xC0000070: '応答%1で停止。プロバイダとの契約を確認して下さい。',
    0x800001FF: '接続先URLが設定されていません。',
    0x80000200: 'ログファイルを開く事が出来ませんでした。',
    0x80000201: 'HTTPの戻りデータが0バイトです。',
    0x80000202: '成功の応答ではありません。',
    0x80000203: 'アドレスを確認できませんでした。',
    0x80000204: 'family=4ではlocal6を使えません。',
    0x80000205: '応答%1で30分待ちます。',
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
REPLY_CUT, SETTING_TOO_LONG = 0xC000006A, 0xC000006B
REFUSED_ACCOUNT, REFUSED_HOST, PROVIDER_WAIT = 0xC000006C, 0xC000006D, 0x80000205
LOCAL6_NOT_IPV4 = 0x80000204


def text_with(message_id, insertion):
    """A message's text as the status line shows it, its insertion in place."""
    return TEXTS[message_id].replace('%1', insertion)


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
