"""The stub decides its role from its own file and its command line.

Each case builds a file around the real zulsetup.exe, starts it under Wine
on a private X display, and looks for the window or message a user would
see. Screenshots land in the test's folder for a person to look at.
"""
import os
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import harness
from harness import Wine, find_windows, write_ini, write_setup

ROOT = Path(os.environ["ZUL_WINE_ROOT"])
INSTALLER_SUFFIX = " - 安装向导"
UNINSTALLER_SUFFIX = " - 卸载向导"
EXIT_MISSING_VOLUME, EXIT_UNINSTALLER_DAMAGED = 2, 6


class RolesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        lang = os.environ.get("ZUL_TEST_LANG", "zh_CN.UTF-8")
        cls.wine = Wine(ROOT / ("e2e-roles-" + lang), lang=lang)
        cls.shots = ROOT / "screenshots"
        cls.shots.mkdir(parents=True, exist_ok=True)
        cls.work = Path(tempfile.mkdtemp(prefix="zul_roles_"))

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill()
        shutil.rmtree(cls.work, ignore_errors=True)

    def tearDown(self):
        harness.screenshot(self.shots / f"roles-{self._testMethodName}.png")
        self.wine.kill()

    def app_folder(self, name):
        folder = self.wine.host("C:\\" + name)
        folder.mkdir(parents=True, exist_ok=True)
        return folder

    def assert_window(self, title, timeout=60):
        ids = find_windows("^" + title + "$", timeout)
        self.assertTrue(ids, f"no window titled {title!r}")
        return ids

    def test_installer_from_package_mode(self):
        config = self.work / "config"
        write_ini(config / "data.ini", {"禾弋软件安装配置": {"禾弋软件名称": "角色测试", "软件版本": "3.1"}})
        archive = harness.make_7z(self.work / "config.7z", config, password=harness.config_password())
        payload = harness.make_7z(self.work / "payload.7z", config)
        setup = self.app_folder("installer") / "setup.exe"
        write_setup(setup, b"zul-1", payload, archive)
        self.wine.start(setup)
        self.assert_window("角色测试3.1" + INSTALLER_SUFFIX)

    def test_test_argument_reads_package_from_own_folder(self):
        folder = self.app_folder("testmode")
        # "test" wins over the uninstaller mode the file carries.
        write_setup(folder / "setup.exe", b"zul-2")
        write_ini(folder / "data.ini", {"禾弋软件安装配置": {"禾弋软件名称": "演示软件", "软件版本": "1.0"}})
        self.wine.start(folder / "setup.exe", "test")
        self.assert_window("演示软件1.0" + INSTALLER_SUFFIX)
        self.assertTrue((folder / "data.ini").exists(), "the own folder must never be cleaned up")

    def test_other_case_of_test_is_no_test_mode(self):
        folder = self.app_folder("uppertest")
        write_setup(folder / "setup.exe", None)
        write_ini(folder / "data.ini", {"禾弋软件安装配置": {"禾弋软件名称": "不应出现"}})
        self.wine.start(folder / "setup.exe", "TEST")
        # No package: the window comes up without a title.
        self.assertTrue(find_windows("^$", 60) or find_windows(".", 5))
        self.assertFalse(find_windows("不应出现", 3))

    def test_uninstaller_second_stage(self):
        install = self.app_folder("产品目录")
        write_ini(install / "uninst.ini", {"软件卸载配置": {"软件名称": "卸载测试", "软件版本": "2.0"}})
        uninst = self.app_folder("stage2") / "uninst.exe"
        write_setup(uninst, b"zul-2")
        self.wine.start(uninst, "C:\\产品目录", "卸载")
        self.assert_window("卸载测试2.0" + UNINSTALLER_SUFFIX)

    def test_uninstaller_first_stage_restores_companions_and_relaunches(self):
        install = self.app_folder("阶段一")
        write_ini(install / "uninst.ini", {"软件卸载配置": {
            "软件名称": "阶段测试", "软件版本": "1.2", "卸载路径": "C:\\阶段一"}})
        write_setup(install / "uninst.exe", b"zul-2", stub=harness.COMPANION_STUB)
        self.assertEqual(self.wine.run(install / "uninst.exe", timeout=60), 0)
        # The copy in the temporary folder runs the second stage.
        self.assert_window("阶段测试1.2" + UNINSTALLER_SUFFIX)
        data = self.wine.temp_folder() / "阶段测试"
        self.assertEqual((data / "阶段测试.exe").read_bytes(), (install / "uninst.exe").read_bytes())
        self.assertEqual((data / "ZULDLL_s.ini").read_bytes(), b"[dll]\r\n")
        self.assertEqual((data / "ZULDLL.db").read_bytes(), b"dbdata")
        self.assertEqual((data / "var_data.ini").read_bytes(), b"[var]\r\n")
        self.assertTrue((data / "variable.ini").read_bytes().startswith(b"[%ProductName%]"))

    def test_uninstaller_first_stage_without_product_ends_quietly(self):
        folder = self.app_folder("noproduct")
        write_setup(folder / "uninst.exe", b"zul-2")
        self.assertEqual(self.wine.run(folder / "uninst.exe", timeout=60), 0)
        self.assertFalse(find_windows(".", 2))

    def test_uninstaller_first_stage_without_companion_data_says_so(self):
        folder = self.app_folder("broken")
        write_ini(folder / "uninst.ini", {"软件卸载配置": {"软件名称": "损坏测试", "卸载路径": "C:\\broken"}})
        write_setup(folder / "uninst.exe", b"zul-2")
        process = self.wine.start(folder / "uninst.exe")
        ids = self.assert_window("卸载失败")
        self.assertTrue(harness.press_enter(ids[0]), "the message box did not close")
        self.assertEqual(process.wait(timeout=60), EXIT_UNINSTALLER_DAMAGED)
        # Silently: no message box waits for a click, the exit code tells.
        self.assertEqual(self.wine.run(folder / "uninst.exe", "-hp", timeout=60), EXIT_UNINSTALLER_DAMAGED)

    def test_missing_volume_stops_with_message(self):
        config = self.work / "volume-config"
        write_ini(config / "data.ini", {"禾弋软件安装配置": {"禾弋软件名称": "分卷", "压缩分卷数": "3"}})
        archive = harness.make_7z(self.work / "volume-config.7z", config, password=harness.config_password())
        folder = self.app_folder("volumes")
        write_setup(folder / "setup.exe", b"zul-1", b"", archive)
        (folder / "分卷.001").write_bytes(b"7z")
        (folder / "分卷.002").write_bytes(b"7z")
        process = self.wine.start(folder / "setup.exe")
        ids = self.assert_window("运行失败")
        harness.screenshot(self.shots / "roles-missing-volume-message.png")
        self.assertTrue(harness.press_enter(ids[0]), "the message box did not close")
        self.assertEqual(process.wait(timeout=60), EXIT_MISSING_VOLUME)
        self.assertFalse(find_windows(INSTALLER_SUFFIX, 2), "the wizard must not come up")
        # A silent install shows no message; the exit code tells.
        self.assertEqual(self.wine.run(folder / "setup.exe", "-hp", timeout=60), EXIT_MISSING_VOLUME)


if __name__ == "__main__":
    unittest.main(verbosity=2)
