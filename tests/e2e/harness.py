"""Running the real stub under Wine, as a user would, and looking at what it did.

Every test module gets its own Wine prefix (a copy of the build tree's
template) so that files and registry start clean. The environment comes from
CTest: ZUL_STUB (zulsetup.exe), ZULPACK (native zulpack), ZUL_WINE_ROOT (a
folder for this test's prefix), ZUL_SOURCE_DIR, ZUL_RESOURCE_KEY.
"""
import hashlib
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

SOURCE_DIR = Path(os.environ.get("ZUL_SOURCE_DIR", Path(__file__).resolve().parents[2]))
STUB = Path(os.environ.get("ZUL_STUB", ""))
# The same program carrying the uninstaller's companion data as a resource.
COMPANION_STUB = Path(os.environ.get("ZUL_COMPANION_STUB", ""))
ZULPACK = Path(os.environ.get("ZULPACK", ""))
RESOURCE_KEY = os.environ.get("ZUL_RESOURCE_KEY", "zul")
# Wine's 32-bit loader, or wine64 on kernels that cannot run 32-bit code.
WINE = subprocess.run([str(SOURCE_DIR / "scripts/wine-loader")], capture_output=True, text=True).stdout.strip()

# Section markers, written here independently of the program's own writer.
def _marker(name):
    return b"ZUL-mark=" + name.encode("gbk")

MODE_OPEN, MODE_CLOSE = _marker("配置包A"), _marker("配置包B")
PAYLOAD_OPEN, PAYLOAD_CLOSE = _marker("7zipdataA"), _marker("7zipdataB")
CONFIG_OPEN, CONFIG_CLOSE = _marker("配置包sA"), _marker("配置包sB")


def block(open_marker, content, close_marker):
    return b"\x00" + open_marker + b"\x01" + content + close_marker + b"\x01"


def config_password():
    return hashlib.md5(RESOURCE_KEY.encode("ascii")).hexdigest()


def write_setup(path, mode=b"zul-1", payload=None, config=None, stub=None):
    """A setup file: stub, package-mode block, payload block, configuration
    block with the archive's second byte changed. None leaves a block out."""
    data = (stub or STUB).read_bytes()
    if mode is not None:
        data += block(MODE_OPEN, mode, MODE_CLOSE)
    if payload is not None:
        data += block(PAYLOAD_OPEN, payload, PAYLOAD_CLOSE)
    if config is not None:
        if len(config) >= 2:
            config = config[:1] + b"Z" + config[2:]
        data += block(CONFIG_OPEN, config, CONFIG_CLOSE)
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    Path(path).write_bytes(data)


def make_7z(archive, folder, password=None, extra=()):
    """A 7z archive of the folder's contents, made by Debian's 7zz."""
    archive = Path(archive)
    archive.unlink(missing_ok=True)
    cmd = ["7zz", "a", "-bd", "-y", str(archive), "."]
    if password:
        cmd += ["-p" + password, "-mhe=on"]
    cmd += list(extra)
    subprocess.run(cmd, cwd=folder, check=True, stdout=subprocess.DEVNULL)
    return archive.read_bytes()


def write_ini(path, sections):
    """An INI file in GBK with CR LF line ends; `sections` maps names to
    dicts of keys."""
    lines = []
    for name, keys in sections.items():
        lines.append(f"[{name}]")
        lines += [f"{k}={v}" for k, v in keys.items()]
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    Path(path).write_bytes(("\r\n".join(lines) + "\r\n").encode("gbk"))


class Wine:
    """One prefix under `root`, with Xvfb's DISPLAY taken from the caller."""

    def __init__(self, root, lang="zh_CN.UTF-8", fresh=True):
        self.root = Path(root).resolve()
        if fresh and self.root.exists():
            shutil.rmtree(self.root)
        subprocess.run([str(SOURCE_DIR / "scripts/wine-prefix"), str(self.root)], check=True)
        self.env = dict(os.environ)
        self.env.update(
            WINEPREFIX=str(self.root / "prefix"),
            HOME=str(self.root / "home"),
            WINEDEBUG="-all",
            LANG=lang,
            LC_ALL=lang,
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
        )
        self.drive_c = self.root / "prefix" / "drive_c"
        self.processes = []

    def host(self, windows_path):
        """The host path of a C: path."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return self.drive_c.joinpath(*windows_path[3:].split("\\"))

    def start(self, exe, *args):
        process = subprocess.Popen([WINE, str(exe), *args], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def run(self, exe, *args, timeout=120):
        return subprocess.run([WINE, str(exe), *args], env=self.env, timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def wait_idle(self, timeout=120):
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)

    def kill(self):
        subprocess.run(["wineserver", "-k"], env=self.env)
        self.wait_idle()
        for process in self.processes:
            process.wait(timeout=60)
        self.processes.clear()

    def temp_folder(self):
        users = self.drive_c / "users"
        return next(users.glob("*/AppData/Local/Temp"), users / os.environ.get("USER", "root") / "Temp")

    def console_encoding(self):
        return "gbk" if self.env["LANG"].startswith("zh_CN") else "cp1252"

    def reg_query(self, key, value):
        """A value's data as `reg query` prints it, or None when missing."""
        out = subprocess.run([WINE, "reg", "query", key, "/v", value], env=self.env,
                             capture_output=True).stdout.decode(self.console_encoding(), "replace")
        m = re.search(re.escape(value) + r"\s+REG_\w+\s+(.*)", out)
        return m.group(1).strip() if m else None

    def file_attributes(self, windows_path):
        """The Windows attribute bits of a file, as Wine reports them."""
        out = subprocess.run([WINE, "cmd", "/c", "attrib", windows_path], env=self.env,
                             capture_output=True).stdout.decode(self.console_encoding(), "replace")
        flags = out.split(windows_path[:3])[0] if windows_path[:3] in out else out
        return (0x1 if "R" in flags else 0) | (0x2 if "H" in flags else 0)


def xdotool(*args):
    r = subprocess.run(["xdotool", *args], capture_output=True, text=True)
    return r.stdout.strip()


def find_windows(name_pattern, timeout=60):
    """Ids of visible top-level windows whose title matches the regular
    expression, waiting up to `timeout` seconds for one to appear."""
    deadline = time.time() + timeout
    while True:
        ids = xdotool("search", "--onlyvisible", "--name", name_pattern).split()
        if ids or time.time() > deadline:
            return ids
        time.sleep(0.3)


def window_name(window_id):
    return xdotool("getwindowname", window_id)


def screenshot(path):
    subprocess.run(["import", "-window", "root", str(path)], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def press_enter(window_id, timeout=30):
    """Presses Enter on a window until it goes away (a busy machine may
    show the window before it takes input)."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        xdotool("windowfocus", "--sync", window_id)
        xdotool("key", "--window", window_id, "Return")
        time.sleep(0.5)
        if window_id not in xdotool("search", "--onlyvisible", "--name", ".").split():
            return True
    return False


def zulpack_build(project, setup, *options):
    """Builds the project folder into `setup` with the native zulpack around
    the stub under test; fails the test with zulpack's message."""
    result = subprocess.run([str(ZULPACK), "build", str(project), "-o", str(setup), "--stub", str(STUB), *options],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"zulpack build {project} failed ({result.returncode}): {result.stderr.strip()}")
    return setup


def reg_values(wine, key):
    """Every value of `key` as `reg query` prints it: {name: (type, data)},
    the default value under the name "" (Wine prints it localised, in
    brackets). None when the key is missing. Names must not hold four
    blanks in a row, which separate the columns."""
    result = subprocess.run([WINE, "reg", "query", key], env=wine.env, capture_output=True)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.decode(wine.console_encoding(), "replace").splitlines():
        if not line.startswith("    "):
            continue
        parts = line[4:].split("    ", 2)
        if len(parts) < 2 or not parts[1].startswith("REG_"):
            continue
        name = parts[0]
        if name in ("(Default)", "(默认)", "(默認)"):
            name = ""
        values[name] = (parts[1], parts[2].rstrip("\r") if len(parts) > 2 else "")
    return values


def data_block(data, name):
    """The content of the first data block `name` (bytes) in `data`: the
    bytes after name + 0x01 up to the first name + "end"; None without one."""
    start = data.find(name + b"\x01")
    if start < 0:
        return None
    start += len(name) + 1
    end = data.find(name + b"end", start)
    return None if end < 0 else data[start:end]
