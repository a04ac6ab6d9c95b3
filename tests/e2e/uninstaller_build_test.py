"""The uninstaller an install builds: the package's packer run over it
twice, its shortcuts read back from the .lnk files, and the result still an
uninstaller that works.

The package is made by zulpack from a project folder, with a stand-in
packer that logs its command lines and what it saw of the file.
"""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
import shell_link
from harness import Wine, write_ini

ROOT = Path(os.environ["ZUL_WINE_ROOT"])
BUILD_DIR = Path(os.environ["ZUL_BUILD_DIR"])
FAKE_PACKER = BUILD_DIR / "tests" / "win" / "fake_packer.exe"
PRODUCT = "打包测试"
INSTALL_DIR = "C:\\Program Files\\打包 测试"


class UninstallerBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine(ROOT / "e2e-uninstaller-build")
        cls.work = Path(tempfile.mkdtemp(prefix="zul_unbuild_"))
        project = cls.work / "project"
        payload = project / "payload"
        (payload / "bin").mkdir(parents=True)
        (payload / "bin" / "app.exe").write_bytes(os.urandom(20000))
        (payload / "说明.txt").write_bytes("说明".encode("gbk"))
        write_ini(project / "config" / "data.ini", {
            "禾弋软件安装配置": {"禾弋软件名称": PRODUCT, "软件版本": "3.1", "公司名称": "测试",
                           "安装位置": INSTALL_DIR, "包内的程序名": "bin\\app.exe", "是否生成卸载程序": "1",
                           "基本组件勾选": "真，真，假"},
            "新建快捷方式参数": {
                "欲运行的次数": "2",
                "参数快捷方式名1": PRODUCT, "参数文件名1": "bin\\app.exe", "参数命令行1": "--open 说明.txt",
                "参数生成位置1": "%Desktop%，%MenuDir%\\" + PRODUCT, "参数是否卸载1": "真",
                "快捷方式图标1": "bin\\app.exe", "快捷方式描述1": "打开程序",
                "参数快捷方式名2": "卸载" + PRODUCT, "参数文件名2": "%Uninst.exe%",
                "参数生成位置2": "%MenuDir%\\" + PRODUCT, "参数是否卸载2": "真"},
        })
        write_ini(project / "config" / "variable.ini", {"%Desktop%": {"数据": ""}, "%MenuDir%": {"数据": ""}})
        cls.setup = cls.wine.host("C:\\packages\\setup.exe")
        cls.setup.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([str(harness.ZULPACK), "build", str(project), "-o", str(cls.setup), "--stub", str(harness.STUB),
                        "--packer", str(FAKE_PACKER)], check=True, stdout=subprocess.DEVNULL)
        cls.exit_code = cls.wine.run(cls.setup, "-hp")

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_packer_unpacks_then_packs_the_marked_uninstaller(self):
        self.assertEqual(self.exit_code, 0)
        temp = self.wine.temp_folder()
        self.assertEqual((temp / "upx1.exe").read_bytes(), FAKE_PACKER.read_bytes())
        temp_windows = "C:\\" + str(temp.relative_to(self.wine.drive_c)).replace("/", "\\") + "\\"
        uninstaller = INSTALL_DIR + "\\uninst.exe"
        runs = (temp / "packer.log").read_bytes().decode("gbk").splitlines()
        self.assertEqual(runs, [
            f'"{temp_windows}\\upx1.exe" -d -q "{uninstaller}" | MZ',
            f'"{temp_windows}\\upx1.exe" --no-color -q -1 "{uninstaller}" | MZ +mode',
        ])

    def test_links_read_back(self):
        self.assertEqual(self.exit_code, 0)
        app = INSTALL_DIR + "\\bin\\app.exe"
        desktop = shell_link.read_link(self.wine.root / "home" / f"{PRODUCT}.lnk")
        self.assertEqual((desktop["target"], desktop["arguments"], desktop["working_dir"], desktop["icon_location"],
                          desktop["description"]),
                         (app, "--open 说明.txt", INSTALL_DIR + "\\bin\\", app, "打开程序"))
        group = next(self.wine.drive_c.glob(f"users/*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/{PRODUCT}"))
        self.assertEqual({p.name for p in group.iterdir()}, {f"{PRODUCT}.lnk", f"卸载{PRODUCT}.lnk"})
        self.assertEqual(shell_link.read_link(group / f"{PRODUCT}.lnk")["target"], app)
        uninstall = shell_link.read_link(group / f"卸载{PRODUCT}.lnk")
        self.assertEqual((uninstall["target"], uninstall["working_dir"], uninstall["icon_location"]),
                         (INSTALL_DIR + "\\uninst.exe", INSTALL_DIR + "\\", INSTALL_DIR + "\\uninst.exe"))

    # Named to run last: it removes what the others look at (the packer's
    # log in the temporary folder stays).
    def test_then_packed_uninstaller_still_uninstalls(self):
        self.assertEqual(self.exit_code, 0)
        uninstaller = self.wine.host(INSTALL_DIR + "\\uninst.exe")
        data = uninstaller.read_bytes()
        self.assertTrue(data.startswith(b"MZ"))
        self.assertTrue(data.endswith(harness.block(harness.MODE_OPEN, b"zul-2", harness.MODE_CLOSE)))
        self.assertEqual(self.wine.run(uninstaller, "-hp"), 0)
        self.wine.wait_idle()
        self.assertFalse(self.wine.host(INSTALL_DIR).exists())
        self.assertFalse((self.wine.root / "home" / f"{PRODUCT}.lnk").exists())


if __name__ == "__main__":
    unittest.main()
