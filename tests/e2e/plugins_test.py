"""Plug-ins packaged by zulpack, called by the real stub under Wine.

The test plug-ins (tests/plugins/probe_plugin.cpp, built in the Windows tree
ZUL_BUILD_DIR) append one line per call to the file named by ZUL_PLUGIN_LOG:
their tag, the export, and the arguments it received. A silent install loads
the install-mode plug-ins; `uninst.exe -hp` loads the uninstall-mode ones in
its second stage and sends event 2000 with 1 before and 2 after the removal.
"""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from harness import Wine, write_ini

ROOT = Path(os.environ["ZUL_WINE_ROOT"])
PROBES = Path(os.environ.get("ZUL_BUILD_DIR", "")) / "tests" / "plugins"
EXIT_UNINSTALL_VETOED = 4
LOG = "C:\\plugins.log"


def zeros(n):
    return " 0" * n


class PluginsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine(ROOT / "e2e-plugins")
        cls.wine.env["ZUL_PLUGIN_LOG"] = LOG
        cls.work = Path(tempfile.mkdtemp(prefix="zul_plugins_"))

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill()
        shutil.rmtree(cls.work, ignore_errors=True)

    def log_lines(self):
        path = self.wine.host(LOG)
        lines = path.read_bytes().decode("gbk").splitlines() if path.exists() else []
        path.unlink(missing_ok=True)
        return lines

    def install(self, name, product, plugins_ini, dlls, payload):
        """Builds DIR with zulpack and installs it silently; the install
        folder's host path."""
        install_dir = "C:\\" + product
        project = self.work / name
        write_ini(project / "config" / "data.ini", {"禾弋软件安装配置": {
            "禾弋软件名称": product, "软件版本": "1.0", "公司名称": "测试", "安装位置": install_dir,
            "包内的程序名": "app.exe", "是否生成卸载程序": "1"}})
        # Variables apply to the descriptors too. (Without a variable.ini
        # the uninstaller gets no companion files, plug-in lists included.)
        write_ini(project / "config" / "variable.ini", {"%ProductName%": {"数据": ""}})
        for relative, data in payload.items():
            (project / "payload" / relative).parent.mkdir(parents=True, exist_ok=True)
            (project / "payload" / relative).write_bytes(data)
        (project / "plugins").mkdir(parents=True)
        (project / "plugins" / "plugins.ini").write_text(plugins_ini, encoding="utf-8")
        for target, probe in dlls.items():
            (project / "plugins" / target).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(PROBES / (probe + ".dll"), project / "plugins" / target)
        setup = self.wine.host("C:\\packages\\" + name + ".exe")
        setup.parent.mkdir(parents=True, exist_ok=True)
        harness.zulpack_build(project, setup)
        self.log_lines()
        self.assertEqual(self.wine.run(setup, "-hp"), 0)
        self.wine.wait_idle()
        return install_dir, self.wine.host(install_dir)

    def uninstall(self, host_dir):
        code = self.wine.run(host_dir / "uninst.exe", "-hp")
        self.wine.wait_idle()
        return code

    def test_load_time_calls_events_and_the_keep_list(self):
        fifteen = "".join(f"param = 整数型:{i}\n" for i in range(1, 16))
        plugins_ini = (
            "; install-mode plug-ins share one DLL: one module\n"
            "[两个参数]\nfile = recorder.dll\nexport = LogTwo\nparam = 整数型:7\nparam = 整数型:-5\n"
            "[三个参数]\nfile = recorder.dll\nexport = LogThree\nmode = install\n"
            "a = int:1\nb = int:2\nc = int:3\n"
            "[十五个]\nfile = recorder.dll\nexport = Record\n" + fifteen +
            "[类型]\nfile = recorder.dll\nexport = LogTyped\n"
            "文本 = 文本型:你好%ProductName%\n数据 = 字节集:hex 01 02 ff\n长度 = 整数型:3\n空 = 文本型:\n负数 = 整数型:-5\n"
            "[计数一]\nfile = recorder.dll\nexport = LogCount\n"
            "[计数二]\nfile = copy/same.dll   ; the same bytes under another name\nexport = LogCount\n"
            "[卸载回调]\nfile = callback.dll\nexport = UseCallback\nmode = uninstall\n"
            "保留 = 文本型:keep.txt,docs\n"
            "[无事件]\nfile = silent.dll\nexport = Record\nmode = uninstall\nparam = 整数型:9\n")
        dlls = {"recorder.dll": "probe_recorder", "copy/same.dll": "probe_recorder",
                "callback.dll": "probe_callback", "silent.dll": "probe_silent"}
        payload = {"app.exe": os.urandom(20000), "data.txt": b"data", "keep.txt": b"kept",
                   "docs/readme.txt": b"readme", "docs/sub/deep.txt": b"deep"}
        install_dir, host_dir = self.install("calls", "插件调用", plugins_ini, dlls, payload)

        self.assertEqual(self.log_lines(), [
            "recorder two 7 -5",
            "recorder three 1 2 3",
            "recorder record " + " ".join(str(i) for i in range(1, 16)),
            "recorder typed 你好插件调用 0102ff null -5",
            "recorder count 1",
            "recorder count 2",
        ], "install-mode plug-ins only, in order, with their arguments")
        recorder_md5 = hashlib.md5((PROBES / "probe_recorder.dll").read_bytes()).hexdigest()
        self.assertEqual(sorted(p.name for p in (self.wine.temp_folder() / "zul_dll").glob("*.dll")),
                         [recorder_md5 + ".dll"], "one file for the DLL content that five descriptors share")
        self.assertTrue((host_dir / "uninst.exe").exists())

        self.assertEqual(self.uninstall(host_dir), 0)
        lines = self.log_lines()
        self.assertEqual(len(lines), 4, lines)
        self.assertRegex(lines[0], "^callback info host\\|插件调用\\|1.0\\|[^|]*\\|" + re.escape(install_dir) + "$")
        self.assertEqual(lines[1:], [
            "silent record 9" + zeros(14),
            "callback keso_msg 2000 1" + zeros(13),
            "callback keso_msg 2000 2" + zeros(13),
        ], "uninstall-mode plug-ins only; the one without keso_msg does not stop the run")

        remaining = {str(p.relative_to(host_dir)).replace(os.sep, "/") for p in host_dir.rglob("*")}
        self.assertEqual(remaining, {"keep.txt", "docs", "docs/readme.txt", "docs/sub", "docs/sub/deep.txt"})

    def test_a_veto_stops_the_uninstall_and_removes_nothing(self):
        plugins_ini = ("[settings]\ncompress = no\n"
                       "[否决]\nfile = veto.dll\nexport = Record\nmode = uninstall\nparam = 整数型:1\n")
        payload = {"app.exe": os.urandom(5000), "data.txt": b"data"}
        _, host_dir = self.install("veto", "插件否决", plugins_ini, {"veto.dll": "probe_veto"}, payload)
        self.assertEqual(self.log_lines(), [])
        before = sorted(p.relative_to(host_dir) for p in host_dir.rglob("*"))
        self.assertIn(Path("uninst.exe"), before)

        self.assertEqual(self.uninstall(host_dir), EXIT_UNINSTALL_VETOED)
        self.assertEqual(self.log_lines(), ["veto record 1" + zeros(14), "veto keso_msg 2000 1" + zeros(13)])
        self.assertEqual(sorted(p.relative_to(host_dir) for p in host_dir.rglob("*")), before)
        self.assertIsNotNone(self.wine.reg_query(
            "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\插件否决", "DisplayName"))

    def test_zulpack_refuses_a_bad_list_naming_file_and_line(self):
        project = self.work / "bad"
        write_ini(project / "config" / "data.ini", {"禾弋软件安装配置": {"禾弋软件名称": "坏"}})
        (project / "payload").mkdir(parents=True)
        (project / "plugins").mkdir()
        shutil.copyfile(PROBES / "probe_recorder.dll", project / "plugins" / "recorder.dll")
        (project / "plugins" / "plugins.ini").write_text(
            "[p]\nfile = recorder.dll\nexport = NotThere\n", encoding="utf-8")
        out = self.work / "bad.exe"
        result = subprocess.run([str(harness.ZULPACK), "build", str(project), "-o", str(out), "--stub",
                                 str(harness.STUB)], capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("plugins.ini:3:", result.stderr)
        self.assertIn("does not export NotThere", result.stderr)
        self.assertFalse(out.exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)
