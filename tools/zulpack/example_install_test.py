#!/usr/bin/env python3
"""The example project of `zulpack init`, installed and uninstalled for real.

usage: example_install_test.py ZULPACK STUB WINE_RUN ROOT

Builds the example (without its registry list) around STUB, installs it
silently under Wine (WINE_RUN --root ROOT), checks the files, the shortcuts,
the program run after the install and the uninstaller, then uninstalls with
`uninst.exe -hp` and checks that everything is gone. Exits 77 (skipped)
when the stub or Wine is missing.
"""
import os
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


def check(work):
    project, setup = os.path.join(work, "example"), os.path.join(work, "setup.exe")
    subprocess.run([ZULPACK, "init", project], check=True, capture_output=True)
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

    for f in failures:
        print("FAIL", f)
    print(f"example install and uninstall: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
