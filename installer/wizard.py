"""The installer's Japanese wizard as Windows Installer UI tables: the dialogs
of an installation (welcome, confirmation, progress, finished, cancelled,
fatal error, maintenance, resume), the matching set of an administrative
installation, the cancel question and the error dialog, with the UI
sequences that show them. build_msi.py writes TABLES as IDT files.

Every dialog is titled with [ProductName]. Control texts are formatted by
the installer, so literal square brackets are written with key()."""

WIDTH, HEIGHT = 370, 270
TITLE = '[ProductName]'
NORMAL, HEADING = 'PelkorNormal', 'PelkorTitle'  # DefaultUIFont is NORMAL

TEXT = 3 | 0x20000            # visible, enabled, no & mnemonics
BUTTON, DISABLED = 3, 1
PROGRESS = 1 | 0x10000        # visible, Windows 95 style bar
MODAL, MODELESS, ERROR = 3, 1, 0x10003


def key(label):
    """The name of a button in running text, in literal square brackets."""
    return '[\\[]' + label + '[\\]]'


NEXT, BACK, CANCEL, CLOSE, FINISH = '次へ(&N) >', '< 戻る(&B)', 'キャンセル', '閉じる(&C)', '完了(&F)'
CONTINUE = f'続行するには {key("次へ")} をクリックしてください。'
CLOSE_HINT = f'ウィザードを終了するには {key("閉じる")} をクリックしてください。'

# (table, columns with IDT types, primary key columns)
SCHEMAS = {
    'Dialog': ([('Dialog', 's72'), ('HCentering', 'i2'), ('VCentering', 'i2'), ('Width', 'i2'),
                ('Height', 'i2'), ('Attributes', 'I4'), ('Title', 'L128'),
                ('Control_First', 's50'), ('Control_Default', 'S50'), ('Control_Cancel', 'S50')],
               ['Dialog']),
    'Control': ([('Dialog_', 's72'), ('Control', 's50'), ('Type', 's20'), ('X', 'i2'), ('Y', 'i2'),
                 ('Width', 'i2'), ('Height', 'i2'), ('Attributes', 'I4'), ('Property', 'S72'),
                 ('Text', 'L0'), ('Control_Next', 'S50'), ('Help', 'L50')],
                ['Dialog_', 'Control']),
    'ControlEvent': ([('Dialog_', 's72'), ('Control_', 's50'), ('Event', 's50'),
                      ('Argument', 's255'), ('Condition', 'S255'), ('Ordering', 'I2')],
                     ['Dialog_', 'Control_', 'Event', 'Argument', 'Condition']),
    'EventMapping': ([('Dialog_', 's72'), ('Control_', 's50'), ('Event', 's50'),
                      ('Attribute', 's50')],
                     ['Dialog_', 'Control_', 'Event']),
    'RadioButton': ([('Property', 's72'), ('Order', 'i2'), ('Value', 's64'), ('X', 'i2'),
                     ('Y', 'i2'), ('Width', 'i2'), ('Height', 'i2'), ('Text', 'L0'),
                     ('Help', 'L50')],
                    ['Property', 'Order']),
    'TextStyle': ([('TextStyle', 's72'), ('FaceName', 's32'), ('Size', 'i2'), ('Color', 'I4'),
                   ('StyleBits', 'I2')],
                  ['TextStyle']),
    'UIText': ([('Key', 's72'), ('Text', 'L255')], ['Key']),
    'ActionText': ([('Action', 's72'), ('Description', 'L0'), ('Template', 'L0')], ['Action']),
    'InstallUISequence': ([('Action', 's72'), ('Condition', 'S255'), ('Sequence', 'I2')],
                          ['Action']),
    'AdminUISequence': ([('Action', 's72'), ('Condition', 'S255'), ('Sequence', 'I2')],
                        ['Action']),
}
TABLES = {name: [] for name in SCHEMAS}


def row(table, *values):
    TABLES[table].append(values)


def event(dialog, control, name, argument, condition='1', ordering=None):
    row('ControlEvent', dialog, control, name, argument, condition, ordering)


def wizard_page(name, heading, paragraphs, back=None, next_label=NEXT, forward=True,
                can_cancel=True, extra=(), attributes=MODAL):
    """A page of the wizard: a heading band, paragraphs of text, any extra
    controls (name, type, x, y, w, h, attributes, property, text) and the
    buttons Back, Next and Cancel. Returns the dialog name for events."""
    first = 'Next' if forward else 'Cancel'
    row('Dialog', name, 50, 50, WIDTH, HEIGHT, attributes, TITLE, first, first, 'Cancel')
    row('Control', name, 'Heading', 'Text', 15, 10, 340, 24, TEXT, None,
        '{\\%s}%s' % (HEADING, heading), None, None)
    row('Control', name, 'HeadingLine', 'Line', 0, 44, WIDTH, 0, 1, None, None, None, None)
    y = 60
    for number, paragraph in enumerate(paragraphs, 1):
        row('Control', name, f'Text{number}', 'Text', 20, y, 330, 30, TEXT, None, paragraph,
            None, None)
        y += 36
    # Tab order: Next, Cancel, Back, then the page's own controls, round again.
    focus = ['Next', 'Cancel', 'Back'] + [c[0] for c in extra if c[1] != 'Text']
    following = dict(zip(focus, focus[1:] + focus[:1]))
    for control, kind, x, y, w, h, attrs, prop, text in extra:
        row('Control', name, control, kind, x, y, w, h, attrs, prop, text,
            following.get(control), None)
    row('Control', name, 'ButtonLine', 'Line', 0, 234, WIDTH, 0, 1, None, None, None, None)
    row('Control', name, 'Back', 'PushButton', 180, 243, 56, 17,
        BUTTON if back else DISABLED, None, BACK, following['Back'], None)
    row('Control', name, 'Next', 'PushButton', 236, 243, 56, 17,
        BUTTON if forward else DISABLED, None, next_label, following['Next'], None)
    row('Control', name, 'Cancel', 'PushButton', 304, 243, 56, 17,
        BUTTON if can_cancel else DISABLED, None, CANCEL, following['Cancel'], None)
    if back:
        event(name, 'Back', 'NewDialog', back)
    if can_cancel:
        event(name, 'Cancel', 'SpawnDialog', 'CancelForm')
    return name


def progress_page(name, heading):
    wizard_page(name, heading, ['[ProductName] をセットアップしています。しばらくお待ちください。'],
                forward=False, attributes=MODELESS)
    row('Control', name, 'ActionText', 'Text', 20, 110, 330, 15, TEXT, None, None, None, None)
    row('Control', name, 'ProgressBar', 'ProgressBar', 20, 130, 330, 12, PROGRESS, None,
        '進行状況', None, None)
    row('EventMapping', name, 'ActionText', 'ActionText', 'Text')
    row('EventMapping', name, 'ProgressBar', 'SetProgress', 'Progress')


def closing_page(name, heading, text):
    """The last page after success (-1), cancellation (-2) or a fatal error (-3)."""
    wizard_page(name, heading, [text, CLOSE_HINT], next_label=CLOSE, can_cancel=False)
    event(name, 'Next', 'EndDialog', 'Return')


def closing_pages(prefix, what):
    closing_page(prefix + 'FinishedForm', f'{what}が完了しました',
                 f'[ProductName] の{what}は正常に完了しました。')
    closing_page(prefix + 'UserExitForm', f'{what}は中断されました',
                 f'[ProductName] の{what}は中断されました。システムは変更されていません。'
                 f'後でもう一度{what}を実行してください。')
    closing_page(prefix + 'FatalErrorForm', f'{what}は失敗しました',
                 f'エラーのため、[ProductName] の{what}を完了できませんでした。'
                 f'システムは変更されていません。')
    progress_page(prefix + 'ProgressForm', f'{what}を実行しています')


# An installation.
event(wizard_page('WelcomeForm', '[ProductName] セットアップ ウィザードへようこそ', [
    'このウィザードは [ProductName] をこのコンピュータにインストールします。',
    'サービス プログラムと設定ファイルはシステム フォルダにインストールされ、'
    'サービスは自動的に開始されます。', CONTINUE]), 'Next', 'NewDialog', 'ConfirmInstallForm')
event(wizard_page('ConfirmInstallForm', 'インストールの確認', [
    '[ProductName] をインストールする準備ができました。',
    f'インストールを開始するには {key("次へ")} をクリックしてください。'],
    back='WelcomeForm'), 'Next', 'EndDialog', 'Return')
event(wizard_page('ResumeForm', '[ProductName] のインストールを再開します', [
    '中断された [ProductName] のインストールを再開します。', CONTINUE]),
    'Next', 'EndDialog', 'Return')
wizard_page('MaintenanceForm', '[ProductName] の修復または削除', [
    '[ProductName] を修復するか削除するかを選んでください。'], next_label=FINISH,
    extra=[('Mode', 'RadioButtonGroup', 40, 96, 280, 40, BUTTON, 'MaintenanceMode', None),
           ('Hint', 'Text', 20, 150, 330, 30, TEXT, None,
            f'選んだら {key("完了")} をクリックしてください。')])
row('RadioButton', 'MaintenanceMode', 1, 'Repair', 0, 0, 280, 18, '修復する(&R)', None)
row('RadioButton', 'MaintenanceMode', 2, 'Remove', 0, 20, 280, 18, '削除する(&M)', None)
# The choice becomes REINSTALL or REMOVE before costing (the page comes
# before CostInitialize), so costing reads it as from a command line.
for ordering, (name, mode) in enumerate([('[REINSTALL]', 'Repair'), ('[REMOVE]', 'Remove')], 1):
    event('MaintenanceForm', 'Next', name, 'ALL', f'MaintenanceMode="{mode}"', ordering)
event('MaintenanceForm', 'Next', 'EndDialog', 'Return', '1', 3)
closing_pages('', 'セットアップ')

# An administrative installation: a server image at a network location.
event(wizard_page('AdminWelcomeForm', '[ProductName] 管理者用インストールへようこそ', [
    'このウィザードは [ProductName] のサーバー イメージをネットワーク上の場所に作成します。',
    CONTINUE]), 'Next', 'NewDialog', 'AdminFolderForm')
wizard_page('AdminFolderForm', 'ネットワークの場所', [
    '[ProductName] のサーバー イメージを作成する場所を入力してください。'],
    back='AdminWelcomeForm',
    extra=[('FolderLabel', 'Text', 20, 100, 330, 12, TEXT, None, 'ネットワークの場所:'),
           ('Folder', 'PathEdit', 20, 114, 330, 18, BUTTON, 'TARGETDIR', None)])
event('AdminFolderForm', 'Next', 'SetTargetPath', 'TARGETDIR', '1', 1)
event('AdminFolderForm', 'Next', 'NewDialog', 'AdminConfirmInstallForm', '1', 2)
event(wizard_page('AdminConfirmInstallForm', 'インストールの確認', [
    '[ProductName] のサーバー イメージを作成する準備ができました。',
    f'開始するには {key("次へ")} をクリックしてください。'],
    back='AdminFolderForm'), 'Next', 'EndDialog', 'Return')
closing_pages('Admin', '管理者用インストール')

# The question behind every Cancel button.
row('Dialog', 'CancelForm', 50, 50, 260, 85, MODAL, TITLE, 'No', 'No', 'No')
row('Control', 'CancelForm', 'Question', 'Text', 20, 15, 220, 30, TEXT, None,
    '[ProductName] のセットアップを取り消しますか?', None, None)
row('Control', 'CancelForm', 'Yes', 'PushButton', 72, 57, 56, 17, BUTTON, None, 'はい(&Y)',
    'No', None)
row('Control', 'CancelForm', 'No', 'PushButton', 132, 57, 56, 17, BUTTON, None, 'いいえ(&N)',
    'Yes', None)
event('CancelForm', 'Yes', 'EndDialog', 'Exit')
event('CancelForm', 'No', 'EndDialog', 'Return')

# The dialog the installer shows its messages in (the ErrorDialog property):
# a text named ErrorText and one button per answer, named by its letter.
ANSWERS = [('A', '中止(&A)', 'ErrorAbort'), ('C', 'キャンセル', 'ErrorCancel'),
           ('I', '無視(&I)', 'ErrorIgnore'), ('N', 'いいえ(&N)', 'ErrorNo'),
           ('O', 'OK', 'ErrorOk'), ('R', '再試行(&R)', 'ErrorRetry'),
           ('Y', 'はい(&Y)', 'ErrorYes')]
row('Dialog', 'ErrorDialog', 50, 50, 270, 105, ERROR, TITLE, 'ErrorText', None, None)
row('Control', 'ErrorDialog', 'ErrorText', 'Text', 20, 15, 230, 50, TEXT, None, None, 'O',
    None)
for number, (letter, label, answer) in enumerate(ANSWERS):
    following = ANSWERS[(number + 1) % len(ANSWERS)][0]
    row('Control', 'ErrorDialog', letter, 'PushButton', 107, 80, 56, 17, BUTTON, None, label,
        following, None)
    event('ErrorDialog', letter, 'EndDialog', answer)

row('TextStyle', NORMAL, 'MS UI Gothic', 9, None, 0)
row('TextStyle', HEADING, 'MS UI Gothic', 12, None, 1)  # bold
for name, text in [('bytes', 'バイト'), ('KB', 'KB'), ('MB', 'MB'), ('GB', 'GB'),
                   ('AbsentPath', ''), ('NewFolder', 'フォルダ|新しいフォルダ'),
                   ('TimeRemaining', '残り時間: {[1] 分 }{[2] 秒}')]:
    row('UIText', name, text)
for action, text in [('InstallFiles', 'ファイルをコピーしています'),
                     ('RemoveFiles', 'ファイルを削除しています'),
                     ('WriteRegistryValues', 'レジストリ値を書き込んでいます'),
                     ('RemoveRegistryValues', 'レジストリ値を削除しています'),
                     ('InstallServices', 'サービスをインストールしています'),
                     ('StartServices', 'サービスを開始しています'),
                     ('StopServices', 'サービスを停止しています'),
                     ('DeleteServices', 'サービスを削除しています'),
                     ('InstallAdminPackage', 'サーバー イメージを作成しています')]:
    row('ActionText', action, text, None)
# Settings given at installation may be secrets: the action data of each
# line written names the section and key, never the value (field 4).
row('ActionText', 'WriteIniValues', '設定ファイルに書き込んでいます',
    'ファイル: [1]  セクション: [2]  キー: [3]')

# The sequences that show the pages. An advertised product (ProductState 1)
# is refused when run with this interface; NEWERPRODUCTFOUND stops here too,
# before any page, as it does in the execute sequence.
for action, condition, sequence in [
        ('FatalErrorForm', None, -3), ('UserExitForm', None, -2), ('FinishedForm', None, -1),
        ('ERRCA_UIANDADVERTISED', 'ProductState=1', 5),
        ('FindRelatedProducts', None, 200),
        ('ERRCA_CANCELNEWERVERSION', 'NEWERPRODUCTFOUND AND NOT Installed', 201),
        ('ValidateProductID', None, 700),
        ('DIRCA_TARGETDIR', 'TARGETDIR=""', 750),
        ('MaintenanceForm', 'Installed<>""', 790),
        ('CostInitialize', None, 800), ('FileCost', None, 900), ('CostFinalize', None, 1000),
        ('MigrateFeatureStates', None, 1200),
        ('WelcomeForm', 'Installed="" AND NOT RESUME', 1230),
        ('ResumeForm', 'Installed="" AND RESUME', 1240),
        ('ProgressForm', None, 1280), ('ExecuteAction', None, 1300)]:
    row('InstallUISequence', action, condition, sequence)
for action, condition, sequence in [
        ('AdminFatalErrorForm', None, -3), ('AdminUserExitForm', None, -2),
        ('AdminFinishedForm', None, -1),
        ('DIRCA_TARGETDIR', 'TARGETDIR=""', 750),
        ('CostInitialize', None, 800), ('FileCost', None, 900), ('CostFinalize', None, 1000),
        ('AdminWelcomeForm', None, 1230), ('AdminProgressForm', None, 1280),
        ('ExecuteAction', None, 1300)]:
    row('AdminUISequence', action, condition, sequence)
