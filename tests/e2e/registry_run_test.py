"""A package built by zulpack from a project folder with a registry list and
programs to run after the install: `setup.exe -hp` must put every file in
place, write every registry value under each root, import both registry
scripts, run the programs with their command lines and record the removable
values; `uninst.exe -hp` must then remove exactly those values.

State -> action -> state: the expectations are declared as tables below and
checked with Wine's own `reg query` and the files on drive C.
"""
import os
import shutil
import stat
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from harness import Wine

ROOT = Path(os.environ["ZUL_WINE_ROOT"])
BUILD_DIR = Path(os.environ.get("ZUL_BUILD_DIR", ""))
PRODUCT = "注册表测试"
INSTALL_DIR = "C:\\Program Files\\注册表测试"
RECORDER = "记录.exe"

REGISTRY_TXT = f"""\
; every kind of line zulpack reads; a script import may come before any key
import = scripts/first.reg

[HKEY_CURRENT_USER\\Software\\{PRODUCT}] remove
@ = sz:默认值
InstallDir = sz:%InstallPath%\\bin
"name = with sign" = sz:a=b
\"say \"\"hi\"\"\" = sz:quoted
Negative = dword:-5
Big = dword:4294967295
Bytes = hex:00,01 7f,ff
Empty = hex:
sub\\Leaf = sz:in a subkey

[HKEY_CURRENT_USER\\Software\\{PRODUCT}\\Kept]
Kept = sz:stays
Count = dword:42

[HKEY_LOCAL_MACHINE\\Software\\{PRODUCT}\\%InstallPath%] remove
Data = sz:%InstallPath%
Dir %InstallPath% = sz:name with the folder

[HKEY_LOCAL_MACHINE\\Software\\{PRODUCT}]
Kept = hex:0a,0b

[HKEY_CLASSES_ROOT\\.zulregtest] remove
@ = sz:zulregtest.file

[HKEY_USERS\\.DEFAULT\\Software\\{PRODUCT}] remove
Value = dword:7

[HKEY_CURRENT_CONFIG\\Software\\{PRODUCT}] remove
Value = sz:配置

import = second.reg
"""

# The first script is GBK (the registry editor reads 8-bit scripts in the
# system's code page), the second UTF-16 with its byte-order mark.
FIRST_REG = (f"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\{PRODUCT}\\脚本一]\r\n\"v\"=\"一\"\r\n\r\n"
             f"[HKEY_CURRENT_USER\\Software\\{PRODUCT}\\脚本一\\%InstallPath%]\r\n\"v\"=\"目录\"\r\n").encode("gbk")
SECOND_REG = ("\ufeffWindows Registry Editor Version 5.00\r\n\r\n"
              f"[HKEY_CURRENT_USER\\Software\\{PRODUCT}\\脚本二]\r\n\"v\"=\"二\"\r\n").encode("utf-16-le")

HKCU = f"HKEY_CURRENT_USER\\Software\\{PRODUCT}"
HKLM = f"HKEY_LOCAL_MACHINE\\Software\\{PRODUCT}"
# "%InstallPath%" in a key path is the folder; in a value name its
# backslashes make the name's leading part a subkey.
HKLM_DIR = f"{HKLM}\\{INSTALL_DIR}"
HKLM_NAME_KEY = f"{HKLM_DIR}\\Dir C:\\Program Files"

# (key, value name, reg query type, reg query data, removed at uninstall)
VALUES = [
    (HKCU, "", "REG_SZ", "默认值", True),
    (HKCU, "InstallDir", "REG_SZ", INSTALL_DIR + "\\bin", True),
    (HKCU, "name = with sign", "REG_SZ", "a=b", True),
    (HKCU, 'say "hi"', "REG_SZ", "quoted", True),
    (HKCU, "Negative", "REG_DWORD", "0xfffffffb", True),
    (HKCU, "Big", "REG_DWORD", "0xffffffff", True),
    (HKCU, "Bytes", "REG_BINARY", "00017FFF", True),
    (HKCU, "Empty", "REG_BINARY", "", True),
    (HKCU + "\\sub", "Leaf", "REG_SZ", "in a subkey", True),
    (HKCU + "\\Kept", "Kept", "REG_SZ", "stays", False),
    (HKCU + "\\Kept", "Count", "REG_DWORD", "0x2a", False),
    (HKLM_DIR, "Data", "REG_SZ", INSTALL_DIR, True),
    (HKLM_NAME_KEY, PRODUCT, "REG_SZ", "name with the folder", True),
    (HKLM, "Kept", "REG_BINARY", "0A0B", False),
    ("HKEY_CLASSES_ROOT\\.zulregtest", "", "REG_SZ", "zulregtest.file", True),
    (f"HKEY_USERS\\.DEFAULT\\Software\\{PRODUCT}", "Value", "REG_DWORD", "0x7", True),
    (f"HKEY_CURRENT_CONFIG\\Software\\{PRODUCT}", "Value", "REG_SZ", "配置", True),
    # Scripts are imported, never removed.
    (HKCU + "\\脚本一", "v", "REG_SZ", "一", False),
    (HKCU + "\\脚本一\\" + INSTALL_DIR, "v", "REG_SZ", "目录", False),
    (HKCU + "\\脚本二", "v", "REG_SZ", "二", False),
]

# The removal list as the installer writes it: path, "\", name, CR LF, in
# the order of the list; the list's own name for a value in a subkey.
REMOVAL_LINES = [
    f"{HKCU}\\", f"{HKCU}\\InstallDir", f"{HKCU}\\name = with sign", f'{HKCU}\\say "hi"', f"{HKCU}\\Negative",
    f"{HKCU}\\Big", f"{HKCU}\\Bytes", f"{HKCU}\\Empty", f"{HKCU}\\sub\\Leaf",
    f"{HKLM_DIR}\\Data", f"{HKLM_DIR}\\Dir {INSTALL_DIR}",
    "HKEY_CLASSES_ROOT\\.zulregtest\\", f"HKEY_USERS\\.DEFAULT\\Software\\{PRODUCT}\\Value",
    f"HKEY_CURRENT_CONFIG\\Software\\{PRODUCT}\\Value",
]

# Section "解压后运行的参数": (external, file, hide, wait).
RUNS = [
    ("假", f"bin\\{RECORDER} 参数一 two", "假", "真"),
    ("真", f"\"%InstallPath%\\bin\\{RECORDER}\" 外部 --hidden", "真", "假"),
    ("否", f"bin\\{RECORDER}", "假", "真"),
]


def recorder_exe():
    exe = BUILD_DIR / "tests" / "win" / "install_record_args.exe"
    if not exe.exists():
        raise unittest.SkipTest(f"{exe} is not built")
    return exe


def payload_files():
    """Nested folders, Chinese names, an empty file and a read-only file."""
    return {
        "app.exe": os.urandom(40000),
        "说明.txt": "注册表测试\r\n".encode("gbk"),
        "docs/深层/目录/数据.bin": os.urandom(3000),
        "empty.dat": b"",
        "readonly.cfg": b"do not touch\n",
        f"bin/{RECORDER}": recorder_exe().read_bytes(),
    }


def data_ini():
    keys = {"禾弋软件名称": PRODUCT, "软件版本": "3.1", "公司名称": "测试公司", "安装位置": INSTALL_DIR,
            "包内的程序名": "app.exe", "是否生成卸载程序": "1"}
    runs = {"欲运行的次数": str(len(RUNS))}
    for i, (external, file, hide, wait) in enumerate(RUNS, 1):
        runs.update({f"是否外部运行{i}": external, f"参数运行文件名{i}": file, f"是否隐藏窗口{i}": hide,
                     f"是否等待返回{i}": wait})
    lines = []
    for name, section in (("禾弋软件安装配置", keys), ("解压后运行的参数", runs)):
        lines.append(f"[{name}]")
        lines += [f"{k}={v}" for k, v in section.items()]
    return "\n".join(lines) + "\n"


class RegistryRunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine(ROOT / "e2e-registry-run")
        cls.work = Path(tempfile.mkdtemp(prefix="zul_registry_run_"))

    @classmethod
    def tearDownClass(cls):
        cls.wine.kill()
        shutil.rmtree(cls.work, ignore_errors=True)

    def build(self):
        project = self.work / "project"
        files = payload_files()
        for name, data in files.items():
            path = project / "payload" / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
        (project / "payload" / "readonly.cfg").chmod(stat.S_IREAD)
        (project / "config").mkdir(parents=True)
        (project / "config" / "data.ini").write_text(data_ini(), encoding="utf-8")
        (project / "registry.txt").write_text(REGISTRY_TXT, encoding="utf-8-sig")
        (project / "scripts").mkdir()
        (project / "scripts" / "first.reg").write_bytes(FIRST_REG)
        (project / "second.reg").write_bytes(SECOND_REG)
        setup = self.wine.host("C:\\packages\\setup.exe")
        setup.parent.mkdir(parents=True, exist_ok=True)
        result = subprocess.run([str(harness.ZULPACK), "build", str(project), "-o", str(setup),
                                 "--stub", str(harness.STUB)], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        return setup, files

    def assert_values(self, present):
        """Each value of VALUES with its type and data when `present` says
        so for it, else missing."""
        cache = {}
        for key, name, kind, data, removed in VALUES:
            if key not in cache:
                cache[key] = harness.reg_values(self.wine, key) or {}
            if present(removed):
                self.assertEqual(cache[key].get(name), (kind, data), f"{key} -> {name!r}")
            else:
                self.assertNotIn(name, cache[key], f"{key} -> {name!r} left behind")

    def test_install_writes_runs_and_records_then_uninstall_removes_the_marked(self):
        setup, files = self.build()
        self.assertEqual(self.wine.run(setup, "-hp", timeout=300), 0)
        # The run that was not waited for may still be going.
        self.wine.wait_idle()

        target = self.wine.host(INSTALL_DIR)
        for name, data in files.items():
            self.assertEqual((target / name).read_bytes(), data, name)
        self.assertTrue(self.wine.file_attributes(INSTALL_DIR + "\\readonly.cfg") & 0x1, "read-only kept")

        self.assert_values(lambda removed: True)

        # "<show> <command line>" per run: shown 1 or hidden 0. The shell
        # quotes the program and passes the parameters as given.
        lines = (target / "bin" / "args.txt").read_bytes().decode("gbk").splitlines()
        exe = f"{INSTALL_DIR}\\bin\\{RECORDER}"
        self.assertEqual(len(lines), 3, lines)
        self.assertEqual(lines[0], f"1 \"{exe}\" 参数一 two", "the waited run comes first")
        self.assertCountEqual(lines[1:], [f"0 \"{exe}\" 外部 --hidden", f"1 \"{exe}\""])

        record = (target / "uninst.ini").read_bytes()
        removal = harness.data_block(record, "卸载注册表".encode("gbk"))
        self.assertEqual(removal, "".join(line + "\r\n" for line in REMOVAL_LINES).encode("gbk"))

        self.assertEqual(self.wine.run(target / "uninst.exe", "-hp", timeout=300), 0)
        self.wine.wait_idle()
        self.assert_values(lambda removed: not removed)


if __name__ == "__main__":
    unittest.main(verbosity=2)
