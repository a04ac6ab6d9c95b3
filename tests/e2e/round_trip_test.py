"""Install, then uninstall with `uninst.exe -hp`: the machine must be as it
was before, but for the leftovers listed below.

The state is the file tree of the prefix's drive C and an export of the
registry; both are compared before the install and after the uninstall.
"""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from harness import Wine, write_ini

ROOT = Path(os.environ["ZUL_WINE_ROOT"])
PRODUCT = "往返测试"
INSTALL_DIR = "C:\\Program Files\\往返测试"
UNINSTALL_MARKER = "C:\\uninstall-command-ran.txt"

# What an uninstall may leave, relative to the temporary folder:
LEFTOVERS = {
    # The running copy of the uninstaller cannot delete its own file, nor
    # the uninstaller it moved out of the install folder while its first
    # stage was still running from it (and waiting for the copy).
    f"{PRODUCT}/{PRODUCT}.exe",
    f"{PRODUCT}/uninst.exe",
    f"{PRODUCT}",
    # The uninstaller's icon is written there for the resource update and
    # kept, as is the packer.
    "zul_dll",
    f"zul_dll/{PRODUCT}.ico",
}


# What an uninstall leaves in the registry: the values listed without
# "remove", and the keys that held the removed values (the record names
# values, and a key is deleted only when named itself).
REGISTRY_LEFTOVERS = {
    f"[HKEY_CURRENT_USER\\Software\\{PRODUCT}]",
    f"[HKEY_CURRENT_USER\\Software\\{PRODUCT}\\Settings]",
    '"Kept"="the user\'s choice"',
    f"[HKEY_LOCAL_MACHINE\\Software\\{PRODUCT}]",
}

# Keys Wine itself rewrites as programs start (device and display state,
# its own settings), whatever the program does.
VOLATILE_SECTIONS = (
    "[HKEY_LOCAL_MACHINE\\System",
    "[HKEY_LOCAL_MACHINE\\HARDWARE",
    "[HKEY_CURRENT_USER\\Software\\Wine",
    "[HKEY_LOCAL_MACHINE\\Software\\Wine",
    # Wine's console host stores its defaults when the first console program
    # (here the uninstall command, cmd.exe) starts.
    "[HKEY_CURRENT_USER\\Console",
)


def file_tree(wine):
    drive = wine.drive_c
    return {str(p.relative_to(drive)) for p in drive.rglob("*")}


def registry_export(wine):
    """Every line of an export of HKLM and HKCU, volatile keys left out."""
    lines = set()
    for root in ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"):
        out = wine.root / f"export-{root}.reg"
        wine.run("regedit", "/e", str(out), root, timeout=120)
        text = out.read_bytes().decode("utf-16", "replace") if out.exists() else ""
        section = ""
        for line in text.splitlines():
            if line.startswith("["):
                section = line
            volatile = section.startswith(VOLATILE_SECTIONS)
            if not volatile:
                lines.add(line)
    return lines


class RoundTripTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine(ROOT / "e2e-round-trip")
        cls.work = Path(tempfile.mkdtemp(prefix="zul_round_"))

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill()
        shutil.rmtree(cls.work, ignore_errors=True)

    def package(self):
        """A zulpack project: nested payload, shortcuts (one to the
        uninstaller), registry values to remove and to keep, an uninstall
        command."""
        project = self.work / "project"
        shutil.rmtree(project, ignore_errors=True)
        config, payload = project / "config", project / "payload"
        for name, data in {"app.exe": os.urandom(30000), "docs/说明.txt": "说明".encode("gbk"),
                           "data/nested/deep.bin": os.urandom(100)}.items():
            (payload / name).parent.mkdir(parents=True, exist_ok=True)
            (payload / name).write_bytes(data)
        write_ini(config / "data.ini", {
            "禾弋软件安装配置": {"禾弋软件名称": PRODUCT, "软件版本": "1.0", "公司名称": "测试",
                           "安装位置": INSTALL_DIR, "包内的程序名": "app.exe", "是否生成卸载程序": "1",
                           "基本组件勾选": "真，真，假"},
            "新建快捷方式参数": {
                "欲运行的次数": "2",
                "参数快捷方式名1": PRODUCT, "参数文件名1": "app.exe", "参数生成位置1": "%Desktop%，%MenuDir%\\" + PRODUCT,
                "参数是否卸载1": "真",
                "参数快捷方式名2": "卸载" + PRODUCT, "参数文件名2": "%Uninst.exe%",
                "参数生成位置2": "%MenuDir%\\" + PRODUCT, "参数是否卸载2": "真"},
            "卸载时运行命令": {
                "欲运行的次数": "1", "是否外部运行1": "真", "是否隐藏窗口1": "真", "是否等待返回1": "真",
                "参数运行文件名1": f"cmd.exe /c echo %InstallPath%> {UNINSTALL_MARKER}"},
        })
        write_ini(config / "variable.ini", {"%Desktop%": {"数据": ""}, "%MenuDir%": {"数据": ""}})
        (project / "registry.txt").write_text(
            f"[HKEY_CURRENT_USER\\Software\\{PRODUCT}] remove\n"
            "@ = sz:%InstallPath%\n"
            "Count = dword:7\n"
            "Blob = hex:01,02,ff\n"
            f"[HKEY_LOCAL_MACHINE\\Software\\{PRODUCT}] remove\n"
            "Path = sz:%InstallPath%\\app.exe\n"
            f"[HKEY_CURRENT_USER\\Software\\{PRODUCT}\\Settings]\n"
            "Kept = sz:the user's choice\n", encoding="utf-8")
        setup = self.wine.host("C:\\packages\\setup.exe")
        setup.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([str(harness.ZULPACK), "build", str(project), "-o", str(setup), "--stub", str(harness.STUB)],
                       check=True, stdout=subprocess.DEVNULL)
        return setup

    def installed_programs(self):
        """What Wine's own list of installed programs shows."""
        out = subprocess.run([harness.WINE, "uninstaller", "--list"], env=self.wine.env, capture_output=True,
                             timeout=120).stdout
        return out.decode(self.wine.console_encoding(), "replace")

    def install_and_uninstall(self, setup, installs=1):
        for _ in range(installs):
            self.assertEqual(self.wine.run(setup, "-hp"), 0)
        self.assertTrue(self.wine.host(INSTALL_DIR + "\\uninst.exe").exists())
        self.assertIn(f"{PRODUCT}|||{PRODUCT} 1.0", self.installed_programs())
        key = f"HKCU\\Software\\{PRODUCT}"
        self.assertEqual(self.wine.reg_query(key, "Count"), "0x7")
        self.assertEqual(self.wine.reg_query(key + "\\Settings", "Kept"), "the user's choice")
        record = self.wine.host(INSTALL_DIR + "\\uninst.ini").read_bytes()
        removable = record.split("卸载注册表".encode("gbk") + b"\x01", 1)[1].split(b"end", 1)[0].decode("gbk")
        self.assertIn(f"HKEY_LOCAL_MACHINE\\Software\\{PRODUCT}\\Path\r\n", removable)
        self.assertNotIn("Kept", removable)
        marker = self.wine.host(UNINSTALL_MARKER)
        marker.unlink(missing_ok=True)
        self.assertEqual(self.wine.run(self.wine.host(INSTALL_DIR + "\\uninst.exe"), "-hp"), 0)
        self.wine.wait_idle()
        self.assertNotIn(PRODUCT, self.installed_programs())
        # The uninstall command ran, with the install folder in its text;
        # its marker is the test's own and goes before the comparison.
        self.assertEqual(marker.read_bytes().decode("gbk").strip(), INSTALL_DIR)
        marker.unlink()

    def assert_clean(self, files_before, registry_before):
        temp = str(self.wine.temp_folder().relative_to(self.wine.drive_c))
        expected_new = {f"{temp}/{item}" for item in LEFTOVERS}
        new_files = file_tree(self.wine) - files_before - {"packages", "packages/setup.exe"}
        self.assertEqual(sorted(new_files - expected_new), [], "files left behind")
        self.assertEqual(sorted(files_before - file_tree(self.wine)), [], "files removed that were there before")
        registry_after = registry_export(self.wine)
        self.assertEqual(sorted(registry_after - registry_before - REGISTRY_LEFTOVERS), [],
                         "registry entries left behind")

    def test_install_then_uninstall_leaves_nothing(self):
        setup = self.package()
        files_before, registry_before = file_tree(self.wine) | {"packages", "packages/setup.exe"}, registry_export(self.wine)
        self.install_and_uninstall(setup)
        self.assert_clean(files_before, registry_before)

    def test_two_installs_one_uninstall_leaves_nothing(self):
        setup = self.package()
        files_before, registry_before = file_tree(self.wine) | {"packages", "packages/setup.exe"}, registry_export(self.wine)
        self.install_and_uninstall(setup, installs=2)
        self.assert_clean(files_before, registry_before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
