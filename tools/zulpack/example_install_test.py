#!/usr/bin/env python3
"""The example project of `zulpack init`, installed and uninstalled for real.

usage: example_install_test.py ZULPACK STUB WINE_RUN ROOT

Builds the example around STUB (without its registry list while lists do
not compile yet), installs it silently under Wine (WINE_RUN --root ROOT),
checks the files, the shortcuts, the program run after the install, the
registry values and the uninstaller, then uninstalls with `uninst.exe -hp`
and checks that everything is gone. Exits 77 (skipped)
when the stub or Wine is missing.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ZULPACK, STUB, WINE_RUN, ROOT = sys.argv[1:5]
SKIP = 77
INSTALL = "Program Files/演示软件"
START_MENU = "users/{user}/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/演示软件"


def wine(*args):
    return subprocess.run([WINE_RUN, "--root", ROOT, *args], capture_output=True, timeout=600).returncode


def main():
    loader = subprocess.run([os.path.join(os.path.dirname(WINE_RUN), "wine-loader")], capture_output=True, text=True)
    if not os.path.exists(STUB) or loader.returncode != 0 or not shutil.which(loader.stdout.strip() or "-"):
        print("skipped: no stub or no Wine")
        return SKIP
    shutil.rmtree(ROOT, ignore_errors=True)
    work = tempfile.mkdtemp(prefix="zulpack_example_")
    try:
        return check(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def registry_key(name):
    """The values of HKEY_CURRENT_USER\\`name` as Wine saved them: {line}, or
    None when the key is missing."""
    subprocess.run(["wineserver", "-w"], env=dict(os.environ, WINEPREFIX=os.path.join(ROOT, "prefix")), timeout=120)
    with open(os.path.join(ROOT, "prefix", "user.reg"), encoding="ascii", errors="replace") as f:
        text = f.read()
    text = re.sub(r"\\(x[0-9a-fA-F]{1,4}|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) > 1 else m.group(1), text)
    values = None
    for line in text.splitlines():
        if line.startswith("["):
            if values is not None:
                break
            if line.split("]")[0] == "[" + name:
                values = set()
        elif values is not None and line and not line.startswith("#"):
            values.add(line)
    return values


def check(work):
    project, setup = os.path.join(work, "example"), os.path.join(work, "setup.exe")
    subprocess.run([ZULPACK, "init", project], check=True, capture_output=True)
    built = subprocess.run([ZULPACK, "build", project, "-o", setup, "--stub", STUB], capture_output=True, text=True)
    # Until registry lists compile, the example is built without its list.
    with_registry = built.returncode == 0
    if not with_registry:
        assert "not supported yet" in built.stderr, built.stderr
        os.remove(os.path.join(project, "registry.txt"))
        subprocess.run([ZULPACK, "build", project, "-o", setup, "--stub", STUB], check=True, capture_output=True)

    drive = os.path.join(ROOT, "prefix", "drive_c")
    if wine(setup, "-hp") != 0:
        print("FAIL: the silent install failed")
        return 1
    user = next(u for u in os.listdir(os.path.join(drive, "users")) if u != "Public")
    installed = os.path.join(drive, INSTALL)
    start_menu = os.path.join(drive, START_MENU.format(user=user))
    failures = []
    for name in ["演示程序.cmd", "说明.txt", "uninst.exe", "uninst.ini"]:
        if not os.path.isfile(os.path.join(installed, name)):
            failures.append(f"not installed: {name}")
    with open(os.path.join(project, "payload", "演示程序.cmd"), "rb") as f:
        program = f.read()
    if os.path.isfile(os.path.join(installed, "演示程序.cmd")):
        with open(os.path.join(installed, "演示程序.cmd"), "rb") as f:
            if f.read() != program:
                failures.append("演示程序.cmd differs")
    # The program run after the install leaves its log.
    if not os.path.isfile(os.path.join(installed, "install.log")):
        failures.append("the program run after the install left no install.log")
    for link in ["演示软件.lnk", "卸载演示软件.lnk"]:
        if not os.path.isfile(os.path.join(start_menu, link)):
            failures.append(f"no start-menu shortcut {link}")
    key = "Software\\演示软件"
    if with_registry:
        expected = {'@="演示软件"', '"InstallDir"="C:\\Program Files\\演示软件"', '"Version"="1.0.0"',
                    '"Installs"=dword:00000001', '"Flags"=hex:01,00,ff'}
        if registry_key(key) != expected:
            failures.append(f"registry: {registry_key(key)}, expected {expected}")

    if not failures:
        if wine(os.path.join(installed, "uninst.exe").replace(drive, "C:").replace("/", "\\"), "-hp") != 0:
            failures.append("uninst.exe -hp failed")
        # The first stage relaunches a copy and ends; the copy removes.
        deadline = time.time() + 120
        while time.time() < deadline and (os.path.exists(installed) or os.path.exists(start_menu)):
            time.sleep(1)
        # The uninstall command removed install.log, so the folder goes too.
        for left in [installed, start_menu]:
            if os.path.exists(left):
                failures.append(f"left after the uninstall: {left}: {os.listdir(left)}")
        # The list marks the key "remove": its values go at uninstall.
        if with_registry and registry_key(key):
            failures.append(f"registry values left after the uninstall: {registry_key(key)}")
    print("registry list:", "installed and removed" if with_registry else "not compiled yet, left out")

    for f in failures:
        print("FAIL", f)
    print(f"example install and uninstall: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
