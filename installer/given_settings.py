"""The settings a silent deployment may give to the installer: every key of
[setting] in pelkor.ini as a public property of the same name in capitals
(install.exe /qn URL="https://..." USER=alice PASSWORD=... INTERVAL=300).
build_msi.py adds these rows to the package.

Each key has a component of its own with one IniFile row, so that only the
keys given are written, into the template at a first installation and into
the user's own file (kept by the settings component) at an upgrade or repair:
- An empty property is an absent one to Windows Installer, so each property
  has a default no one gives (NOT_GIVEN); a given value, even an empty one,
  replaces it, and the component's condition tests for that.
- The components are transitive: their condition is evaluated again at every
  installation, repair included. A plain component installed once would be
  reinstalled at each repair and write NOT_GIVEN over the user's value.
- RemoveIniValues is not sequenced: a component whose property is not given
  at a repair becomes absent, and must not take the user's line with it.
  Removal deletes the whole file anyway.
- URL, USER and PASSWORD may hold secrets: they are hidden properties, and
  the template of WriteIniValues' action data (wizard.py) leaves values out.
  Wine's msi knows no hidden properties and logs every property left at the
  end of the execute sequence, so the three are cleared once the lines are
  written: after InstallFinalize, which runs WriteIniValues with the values
  (Windows has taken them into its script before that)."""

NOT_GIVEN = '<not given>'
HIDDEN = ('URL', 'USER', 'PASSWORD')
SETTINGS_FILE, SECTION, FOLDER = 'pelkor.ini', 'setting', 'SystemFolder'
TRANSITIVE = 0x40
ADD_LINE = 0  # msidbIniFileActionAddLine: create or replace the key's line

# The key and the GUID of its component; a GUID never changes with a release.
KEYS = [
    ('url', 'B4C940AB-F604-426C-8E30-69A38E95EDEE'),
    ('interval', '0E884A8A-CA63-4520-B483-A2EA1464C924'),
    ('log', 'E13BF63D-6745-4C75-A923-45945671345C'),
    ('timeout', '069CF673-8889-46A1-9C7E-5CC8FDE15E60'),
    ('okbody', 'FD9D909E-6E43-4F1B-AF2A-D9EDB15F1A5B'),
    ('retry', 'F4AF09D8-0931-4231-A102-24C58AA84B50'),
    ('checkurl', 'E078A56D-3943-4BAB-9320-57D4D992C8E3'),
    ('force', '886FBABA-307C-442B-8456-B38351438CEB'),
    ('agent', '2FBB871D-7221-4086-80D4-ADDF6F1AAC41'),
    ('user', '3F9FAF12-3297-4A6E-93CD-58F014C91BE4'),
    ('password', '540CDE63-9597-491D-9892-CBE7A7C46153'),
    ('proxy', '2D01CE7D-3660-417A-BA1A-4C5C2FE93A30'),
]
PROPERTIES = [key.upper() for key, _ in KEYS]

INI_SCHEMA = ([('IniFile', 's72'), ('FileName', 'l255'), ('DirProperty', 'S72'),
               ('Section', 'l96'), ('Key', 'l128'), ('Value', 'l255'), ('Action', 'i2'),
               ('Component_', 's72')],
              ['IniFile'])


def component(key):
    return 'C_Setting_' + key


def components():
    """Component rows: (Component, ComponentId, Directory_, Attributes,
    Condition); no key path, so the folder is."""
    return [(component(key), '{%s}' % guid, FOLDER, TRANSITIVE,
             f'{key.upper()} <> "{NOT_GIVEN}"') for key, guid in KEYS]


def ini_rows():
    return [('Setting_' + key, SETTINGS_FILE, FOLDER, SECTION, key, f'[{key.upper()}]',
             ADD_LINE, component(key)) for key, _ in KEYS]


def clearing_actions():
    """(action, custom action type, property, sequence): type 51 with no
    target sets the property to nothing. InstallFinalize is at 6600."""
    return [('CLEARCA_' + name, 51, name, 6601 + n) for n, name in enumerate(HIDDEN)]


def property_rows():
    return [(name, NOT_GIVEN) for name in PROPERTIES] + \
        [('MsiHiddenProperties', ';'.join(HIDDEN))]
