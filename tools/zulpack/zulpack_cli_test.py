#!/usr/bin/env python3
"""zulpack's command line against bad input: every case must end with the
documented exit code, a message naming the file and the reason, and no
output left behind.

usage: zulpack_cli_test.py ZULPACK STUB
STUB is a setup stub whose resource KEY 250 exists (the MinGW-built fixture).
"""
import os
import shutil
import subprocess
import sys
import tempfile

ZULPACK, STUB = sys.argv[1], sys.argv[2]
OK, BAD, USAGE = 0, 1, 2


def run(*args):
    p = subprocess.run([ZULPACK, *args], capture_output=True, text=True)
    return p.returncode, p.stdout, p.stderr


def listing(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder)
                  for d, _, files in os.walk(folder) for f in files)


def main():
    work = tempfile.mkdtemp(prefix="zulpack_cli_")
    try:
        return check(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check(work):
    j = lambda *p: os.path.join(work, *p)
    # The example project without its registry list (built on its own by
    # the registry-list tests) is the good input every case spoils.
    rc, out, err = run("init", j("example"))
    assert rc == OK, err
    os.remove(j("example", "registry.txt"))
    with open(j("example", "payload", "big.bin"), "wb") as f:
        f.write(os.urandom(30000))

    # A stub whose KEY resource was renamed: a valid PE without KEY 250.
    with open(STUB, "rb") as f:
        image = f.read()
    assert image.count("KEY".encode("utf-16-le")) == 1
    with open(j("nokey.exe"), "wb") as f:
        f.write(image.replace("KEY".encode("utf-16-le"), "KEX".encode("utf-16-le")))

    # A good setup file with volumes and an install password, for extract.
    os.mkdir(j("good"))
    rc, out, err = run("build", j("example"), "-o", j("good", "setup.exe"), "--stub", STUB,
                       "--volume-size", "10000", "--install-password", "秘密")
    assert rc == OK, err
    volumes = sorted(f for f in os.listdir(j("good")) if f.startswith("演示软件."))
    assert len(volumes) >= 3, volumes
    with open(j("good", "setup.exe"), "rb") as f:
        setup = f.read()
    cut = setup.rfind("ZUL-mark=配置包sA\x01".encode("gbk"))
    with open(j("damaged.exe"), "wb") as f:
        f.write(setup[:cut + 60] + b"\0" * 64 + setup[cut + 124:])

    def project(spoil):
        """A fresh copy of the example, spoiled by `spoil`; its path."""
        def make():
            p = j("case")
            shutil.rmtree(p, ignore_errors=True)
            shutil.copytree(j("example"), p)
            spoil(p)
            shutil.rmtree(j("out"), ignore_errors=True)
            os.mkdir(j("out"))
            return p
        return make

    def write(rel, data):
        def spoil(p):
            os.makedirs(os.path.dirname(os.path.join(p, rel)), exist_ok=True)
            with open(os.path.join(p, rel), "wb") as f:
                f.write(data)
        return spoil

    def remove(rel):
        return lambda p: shutil.rmtree(os.path.join(p, rel)) if os.path.isdir(os.path.join(p, rel)) \
            else os.remove(os.path.join(p, rel))

    setup_out = j("out", "setup.exe")
    build = lambda *extra: ["build", j("case"), "-o", setup_out, "--stub", STUB, *extra]
    bad_ini = "[禾弋软件安装配置]\n禾弋软件名称=演示软件\n公司名称=笑脸😀工作室\n".encode()

    # (what, prepare, argv, exit code, texts the message holds, folder that must stay empty or missing)
    cases = [
        ("no config folder", project(remove("config")), build(), BAD, ["config", "missing"], j("out")),
        ("no data.ini", project(remove("config/data.ini")), build(), BAD, ["data.ini", "missing"], j("out")),
        ("no payload folder", project(remove("payload")), build(), BAD, ["payload", "missing"], j("out")),
        ("stub missing", project(lambda p: None), build("--stub", j("none.exe")), BAD, ["none.exe", "missing"], j("out")),
        ("stub is a folder", project(lambda p: None), build("--stub", work), BAD, [work, "not a file"], j("out")),
        ("stub without KEY", project(lambda p: None), build("--stub", j("nokey.exe")), BAD,
         ["nokey.exe", "KEY 250"], j("out")),
        ("stub is a setup file", project(lambda p: None), build("--stub", j("good", "setup.exe")), BAD,
         ["setup.exe", "bare stub"], j("out")),
        ("password the installer reads back differently", project(lambda p: None), build("--password", " pw "), BAD,
         ["--password", "blanks"], j("out")),
        ("volume size 0", project(lambda p: None), build("--volume-size", "0"), USAGE, ["--volume-size"], j("out")),
        ("too many volumes", project(lambda p: None), build("--volume-size", "10"), BAD,
         ["setup.exe", "at most 999 volumes"], j("out")),
        ("payload name GBK cannot hold", project(write("payload/😀.txt", b"x")), build(), BAD,
         ["😀.txt", "GBK cannot hold"], j("out")),
        ("ini text GBK cannot hold", project(write("config/data.ini", bad_ini)), build(), BAD,
         ["data.ini", "line 3", "GBK cannot hold"], j("out")),
        ("output folder missing", project(lambda p: None),
         ["build", j("example"), "-o", j("out", "nowhere", "setup.exe"), "--stub", STUB], BAD,
         ["nowhere", "does not exist"], j("out")),
        ("output is a folder", lambda: (project(lambda p: None)(), os.mkdir(setup_out)), build(), BAD,
         ["setup.exe", "a folder"], j("out")),
        ("extract: no password", None, ["extract", j("good", "setup.exe"), j("x")], BAD,
         ["setup.exe", "--password"], j("x")),
        ("extract: wrong password", None, ["extract", j("good", "setup.exe"), j("x"), "--password", "秘"], BAD,
         ["setup.exe", "wrong password"], j("x")),
        ("extract: damaged configuration", None, ["extract", j("damaged.exe"), j("x")], BAD,
         ["damaged.exe", "configuration archive"], j("x")),
        ("extract: missing volume", lambda: os.rename(j("good", volumes[1]), j("moved")),
         ["extract", j("good", "setup.exe"), j("x", "deeper"), "--password", "秘密"], BAD,
         [volumes[1], "missing"], j("x")),
        ("extract: missing file", None, ["extract", j("none.exe"), j("x")], BAD, ["none.exe"], j("x")),
        ("extract: not a package", None, ["extract", STUB, j("x")], BAD, ["neither"], j("x")),
        ("extract: one argument", None, ["extract", j("good", "setup.exe")], USAGE, ["usage: zulpack extract"], j("x")),
        ("init: folder not empty", None, ["init", j("good")], BAD, ["good", "not an empty folder"], None),
        ("unknown command", None, ["pack"], USAGE, ["unknown command pack"], None),
    ]
    failures = []
    for what, prepare, argv, code, texts, clean in cases:
        if prepare:
            prepare()
        rc, out, err = run(*argv)
        problems = []
        if rc != code:
            problems.append(f"exit code {rc}, expected {code}")
        problems += [f"message lacks {t!r}" for t in texts if t not in err]
        if clean and os.path.exists(clean) and listing(clean):
            problems.append(f"left behind: {listing(clean)}")
        if os.path.exists(j("moved")):
            os.rename(j("moved"), j("good", volumes[1]))
        if problems:
            failures.append(f"{what}: {'; '.join(problems)}\n  stderr: {err.strip()}")
    # The good setup file itself is untouched by the failed extractions and
    # still extracts.
    rc, out, err = run("extract", j("good", "setup.exe"), j("x"), "--password", "秘密")
    if rc != OK or not os.path.exists(j("x", "payload", "big.bin")):
        failures.append(f"good extract: {rc} {err}")

    for command in ["build", "extract", "inspect", "init"]:
        rc, out, err = run(command, "--help")
        if rc != OK or not out.startswith(f"usage: zulpack {command}"):
            failures.append(f"{command} --help: {rc} {out[:60]!r}")

    for f in failures:
        print("FAIL", f)
    print(f"{len(cases)} bad-input cases, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
