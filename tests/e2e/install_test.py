"""Silent installs of real packages, checked file by file.

A package is built around the real stub with zulpack from archives made by
7zz; `setup.exe -hp` installs it without a window and reports through its
exit code.
"""
import os
import shutil
import stat
import tempfile
import time
import unittest
from pathlib import Path

import harness
from harness import Wine, write_ini

ROOT = Path(os.environ["ZUL_WINE_ROOT"])
EXIT_INSTALL_FAILED = 3


def payload_tree(folder):
    """Nested folders, Chinese names, an empty file and a read-only file."""
    files = {
        "app.exe": os.urandom(70000),
        "说明.txt": "演示软件\r\n".encode("gbk"),
        "docs/readme.txt": b"read me\n",
        "docs/深层/目录/数据.bin": os.urandom(5000),
        "empty.dat": b"",
        "readonly.cfg": b"do not touch\n",
    }
    for name, data in files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    (folder / "readonly.cfg").chmod(stat.S_IREAD)
    return files


class SilentInstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine(ROOT / "e2e-install")
        cls.work = Path(tempfile.mkdtemp(prefix="zul_install_"))

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill()
        shutil.rmtree(cls.work, ignore_errors=True)

    def build(self, name, keys, payload_password=None):
        """A setup file in C:\\packages with `keys` in its data.ini."""
        work = self.work / name
        payload, config = work / "payload", work / "config"
        files = payload_tree(payload)
        write_ini(config / "data.ini", {"禾弋软件安装配置": keys})
        setup = self.wine.host("C:\\packages\\" + name + ".exe")
        harness.write_setup(setup, b"zul-1",
                            harness.make_7z(work / "payload.7z", payload, password=payload_password),
                            harness.make_7z(work / "config.7z", config, password=harness.config_password()))
        return setup, files

    def test_silent_install_puts_every_file_in_place(self):
        setup, files = self.build("good", {"禾弋软件名称": "静默测试", "软件版本": "1.0",
                                           "安装位置": "c:\\Program Files\\静默测试\\", "safe": "s3cret"},
                                  payload_password="s3cret")
        self.assertEqual(self.wine.run(setup, "-hp"), 0)
        target = self.wine.host("C:\\Program Files\\静默测试")
        for name, data in files.items():
            self.assertEqual((target / name).read_bytes(), data, name)
        attributes = self.wine.file_attributes("C:\\Program Files\\静默测试\\readonly.cfg")
        self.assertTrue(attributes & 0x1, "read-only attribute kept")
        self.assertEqual(list(self.wine.temp_folder().glob("*.tmp")), [], "no data folder left behind")

    def test_uninstaller_registration_and_shortcuts(self):
        keys = {"禾弋软件名称": "卸载器测试", "软件版本": "2.5", "公司名称": "测试公司",
                "安装位置": "C:\\卸载器测试", "包内的程序名": "app.exe", "是否生成卸载程序": "1",
                "基本组件勾选": "真，真，假"}
        setup, _ = self.build("uninstaller", keys)
        config = self.work / "uninstaller" / "config"
        write_ini(config / "data.ini", {
            "禾弋软件安装配置": keys,
            "新建快捷方式参数": {
                "欲运行的次数": "2",
                "参数快捷方式名1": "卸载器测试", "参数文件名1": "app.exe", "参数命令行1": "--start",
                "参数生成位置1": "%Desktop%，%MenuDir%\\卸载器测试", "参数是否卸载1": "真",
                "快捷方式图标1": "app.exe", "快捷方式描述1": "运行程序",
                "参数快捷方式名2": "卸载", "参数文件名2": "%Uninst.exe%", "参数生成位置2": "%MenuDir%\\卸载器测试",
                "参数是否卸载2": "真"},
        })
        write_ini(config / "variable.ini", {"%Desktop%": {"数据": ""}, "%MenuDir%": {"数据": ""}})
        payload = self.work / "uninstaller" / "payload"
        harness.write_setup(setup, b"zul-1", harness.make_7z(self.work / "u-payload.7z", payload),
                            harness.make_7z(self.work / "u-config.7z", config, password=harness.config_password()))
        self.assertEqual(self.wine.run(setup, "-hp"), 0)

        target = self.wine.host("C:\\卸载器测试")
        uninstaller = (target / "uninst.exe").read_bytes()
        self.assertTrue(uninstaller.startswith(b"MZ"))
        self.assertTrue(uninstaller.endswith(harness.block(harness.MODE_OPEN, b"zul-2", harness.MODE_CLOSE)))
        record = (target / "uninst.ini").read_bytes().decode("gbk")
        self.assertIn("软件名称=卸载器测试", record)
        self.assertIn("快捷方式个数=2", record)
        key = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\卸载器测试"
        self.assertEqual(self.wine.reg_query(key, "UninstallString"), "C:\\卸载器测试\\uninst.exe")
        self.assertEqual(self.wine.reg_query(key, "DisplayName"), "卸载器测试 2.5")
        self.assertEqual(self.wine.reg_query(key, "Publisher"), "测试公司")
        self.assertEqual(self.wine.reg_query(key, "QuietUninstallString"), '"C:\\卸载器测试\\uninst.exe" -hp')
        # Wine links the desktop folder to the prefix's home folder.
        self.assertTrue((self.wine.root / "home" / "卸载器测试.lnk").exists(), "desktop link")
        links = list(self.wine.drive_c.glob("users/*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/卸载器测试/*.lnk"))
        self.assertEqual(sorted(p.name for p in links), ["卸载.lnk", "卸载器测试.lnk"])

    def test_direct_install_shows_its_window(self):
        setup, files = self.build("direct", {"禾弋软件名称": "直接测试", "软件版本": "1.0",
                                             "安装位置": "C:\\直接测试"})
        target = self.wine.host("C:\\直接测试")

        def installed():
            return all((target / name).exists() and (target / name).read_bytes() == data
                       for name, data in files.items())

        # The window comes up and stays after the install, for the user to
        # close.
        process = self.wine.start(setup, "-jp")
        self.assertTrue(harness.find_windows("^直接测试1.0 - 安装向导$"), "no installer window")
        deadline = time.time() + 60
        while not installed() and time.time() < deadline:
            time.sleep(0.5)
        self.assertTrue(installed(), "files not installed")
        time.sleep(2)
        self.assertIsNone(process.poll(), "the window must stay")
        self.assertTrue(harness.find_windows("^直接测试1.0 - 安装向导$", 1))
        self.wine.kill()
        shutil.rmtree(target)

        # With the finish page switched off it ends by itself.
        self.assertEqual(self.wine.run(setup, "-jp", "-hideend"), 0)
        self.assertTrue(installed())

    def test_package_without_variables_uninstalls(self):
        # No variable.ini: the uninstaller still carries its companion data.
        setup, _ = self.build("novariables", {"禾弋软件名称": "无变量", "软件版本": "1.0",
                                              "安装位置": "C:\\无变量", "是否生成卸载程序": "1"})
        self.assertEqual(self.wine.run(setup, "-hp"), 0)
        self.assertEqual(self.wine.run(self.wine.host("C:\\无变量\\uninst.exe"), "-hp", timeout=60), 0)
        self.wine.wait_idle()
        self.assertFalse(self.wine.host("C:\\无变量").exists())

    def test_wrong_payload_password_fails_and_registers_nothing(self):
        setup, _ = self.build("badpassword", {"禾弋软件名称": "密码测试", "软件版本": "1.0",
                                              "安装位置": "C:\\密码测试", "safe": "wrong"},
                              payload_password="right")
        self.assertEqual(self.wine.run(setup, "-hp"), EXIT_INSTALL_FAILED)
        key = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\密码测试"
        self.assertIsNone(self.wine.reg_query(key, "UninstallString"))
        self.assertEqual(list(self.wine.host("C:\\").glob("密码测试/*.exe")), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
