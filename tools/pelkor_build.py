"""Making the package and the setup file from a build tree, for the run,
the tests, the benchmarks and the Makefile's dist.

usage: pelkor_build.py PROGRAMS FOLDER   install.msi and install.exe in FOLDER"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
SETTINGS_TEMPLATE = ROOT / 'resources' / 'pelkor.ini'


def project_version():
    """The one version of a release, a.b.c, from project() in CMakeLists.txt:
    the program's version block and the package's version both follow it."""
    text = (ROOT / 'CMakeLists.txt').read_text()
    return re.search(r'project\(pelkor VERSION (\d+\.\d+\.\d+)', text).group(1)


def build_package(exe, output, product_code=None, date=None):
    """install.msi carrying exe and the settings template."""
    command = [sys.executable, str(ROOT / 'installer' / 'build_msi.py'), '--exe', str(exe),
               '--ini', str(SETTINGS_TEMPLATE), '--output', str(output)]
    if product_code:
        command += ['--product-code', str(product_code)]
    if date:
        command += ['--date', date]
    subprocess.run(command, check=True, timeout=120)
    return pathlib.Path(output)


def make_setup_file(stub, package, output):
    """A setup file: stub, zeros up to the package offset, then the package."""
    subprocess.run([sys.executable, str(ROOT / 'tools' / 'make_setup_file.py'), str(stub),
                    str(package), str(output)], check=True, timeout=120)
    return pathlib.Path(output)


def make_install_exe(programs, folder):
    """install.msi and install.exe in folder from the programs of a build tree."""
    package = build_package(programs / 'pelkor.exe', folder / 'install.msi')
    return make_setup_file(programs / 'setup.exe', package, folder / 'install.exe')


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    make_install_exe(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
