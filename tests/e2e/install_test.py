"""Silent installs of real packages, checked file by file.

A package is built around the real stub with zulpack from archives made by
7zz; `setup.exe -hp` installs it without a window and reports through its
exit code.
"""
import os
import shutil
import stat
import tempfile
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
