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


# Keys Wine itself rewrites as programs start (device and display state,
# its own settings), whatever the program does.
VOLATILE_SECTIONS = (
    "[HKEY_LOCAL_MACHINE\\System",
    "[HKEY_LOCAL_MACHINE\\HARDWARE",
    "[HKEY_CURRENT_USER\\Software\\Wine",
    "[HKEY_LOCAL_MACHINE\\Software\\Wine",
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
        config, payload = self.work / "config", self.work / "payload"
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
        })
        write_ini(config / "variable.ini", {"%Desktop%": {"数据": ""}, "%MenuDir%": {"数据": ""}})
        setup = self.wine.host("C:\\packages\\setup.exe")
        harness.write_setup(setup, b"zul-1", harness.make_7z(self.work / "p.7z", payload),
                            harness.make_7z(self.work / "c.7z", config, password=harness.config_password()))
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
        self.assertEqual(self.wine.run(self.wine.host(INSTALL_DIR + "\\uninst.exe"), "-hp"), 0)
        self.wine.wait_idle()
        self.assertNotIn(PRODUCT, self.installed_programs())

    def assert_clean(self, files_before, registry_before):
        temp = str(self.wine.temp_folder().relative_to(self.wine.drive_c))
        expected_new = {f"{temp}/{item}" for item in LEFTOVERS}
        new_files = file_tree(self.wine) - files_before - {"packages", "packages/setup.exe"}
        self.assertEqual(sorted(new_files - expected_new), [], "files left behind")
        self.assertEqual(sorted(files_before - file_tree(self.wine)), [], "files removed that were there before")
        registry_after = registry_export(self.wine)
        self.assertEqual(sorted(registry_after - registry_before), [], "registry entries left behind")

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
