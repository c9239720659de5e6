#!/usr/bin/env python3
"""Tests of the sample runtime's reference backend, run the way the launcher runs it.

Usage: test_launcher_backend.py <assembled runtime folder> (Resources/runtime of the bundle)
"""
import contextlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
from pathlib import Path

PAYLOAD = None
SAMPLE = Path(__file__).resolve().parents[2] / "sample"
MEMBERS = {"ok", "code", "status_text", "detail_text", "show_install", "enable_launch", "target_url"}


# Each test has a managed runtime root under a data path with spaces, copied as the launcher copies it.
class ReferenceBackendTest(unittest.TestCase):

    def setUp(self):
        self.base = tempfile.mkdtemp(prefix="backend test ")
        self.data = Path(self.base) / "Application Support" / "Zovavir Ever Odaravuz"
        self.root = self.data / "runtime"
        self.started = []
        shutil.copytree(PAYLOAD / "common", self.root, symlinks=True)
        shutil.copytree(PAYLOAD / "macos-arm64", self.root, symlinks=True, dirs_exist_ok=True)

    def tearDown(self):
        for pid in self.started:
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGTERM)
        shutil.rmtree(self.base, ignore_errors=True)

    # Runs `python3.11 scripts/launcher_backend.py action` with both streams piped, as the launcher does; returns
    # the named members of the one JSON object on standard output (all of them when none is named).
    def run_backend(self, action, *members, env=None):
        done = subprocess.run([str(self.root / "python/bin/python3.11"), str(self.root / "scripts/launcher_backend.py"),
                               action], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300, env=env)
        self.errors = done.stderr.decode("utf-8")
        result = json.loads(done.stdout.decode("utf-8"))  # the whole output is one JSON object
        self.assertEqual(set(result), MEMBERS)
        if result.get("code") in ("launched", "running"):
            self.started.append(json.loads((self.data / "frontend.json").read_text())["pid"])
        return {name: result[name] for name in members} if members else result

    def test_check_install_check_launch_and_launch_again(self):
        python_files = sorted(self.root.joinpath("python").rglob("*"))
        self.assertEqual(self.run_backend("check", "ok", "code", "show_install", "enable_launch"),
                         {"ok": False, "code": "not_installed", "show_install": True, "enable_launch": False})
        self.assertEqual(self.run_backend("launch", "code"), {"code": "not_installed"})
        self.assertEqual(self.run_backend("frobnicate", "code"), {"code": "bad_action"})
        self.assertEqual(self.run_backend("install", "ok", "code", "enable_launch"),
                         {"ok": True, "code": "installed", "enable_launch": True})
        self.assertTrue((self.root / "venv").is_dir())  # beside the seven entries
        self.assertIn("正在安装 2/3：安装 1 个依赖包\n", self.errors)  # the window's progress line
        self.assertEqual(self.run_backend("check", "ok", "show_install", "enable_launch"),
                         {"ok": True, "show_install": False, "enable_launch": True})

        # The launch returns at once although its server keeps running: the server holds none of our pipes.
        # The front end's log, grown past its size, moves aside first.
        log = self.data / "logs" / "frontend.log"
        log.parent.mkdir(parents=True)
        log.write_bytes(b"x" * (1 << 20) + b"old\n")
        started = time.monotonic()
        launched = self.run_backend("launch")
        self.assertLess(time.monotonic() - started, 30)
        self.assertEqual(launched["code"], "launched", launched)
        self.assertIn("正在启动 1/1：", self.errors)
        url = launched["target_url"]
        self.assertTrue(url.startswith("http://127.0.0.1:") and url in launched["status_text"])
        with urllib.request.urlopen(url, timeout=5) as response:
            self.assertIn("岚栖", response.read().decode("utf-8"))
        self.assertEqual(self.run_backend("launch", "code", "target_url"), {"code": "running", "target_url": url})
        self.assertEqual(len(set(self.started)), 1)  # the running server was recognised, not started again
        self.assertTrue(log.with_name("frontend.log.1").read_bytes().endswith(b"old\n"))
        self.assertLess(log.stat().st_size, 1 << 20)
        # Byte code was compiled ahead: no run wrote anything into the interpreter's folder.
        self.assertEqual(sorted(self.root.joinpath("python").rglob("*")), python_files)

    def test_the_users_python_and_pip_settings_change_nothing(self):
        hostile = Path(self.base) / "hostile"
        (hostile / "path").mkdir(parents=True)
        (hostile / "path" / "json.py").write_text("raise SystemExit('the user\\'s json module')\n")
        package = hostile / "lanqi_sample"
        shutil.copytree(SAMPLE / "package" / "lanqi_sample", package)
        (package / "__init__.py").write_text('__version__ = "1.0.0"\nHOSTILE = True\n')
        subprocess.run([sys.executable, str(SAMPLE / "package" / "make_wheel.py"), str(package), "1.0.0",
                        str(hostile / "links")], check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, PYTHONPATH=str(hostile / "path"), PYTHONDONTWRITEBYTECODE="1", PIP_USER="1",
                   PIP_FIND_LINKS=str(hostile / "links"), PIP_INDEX_URL="http://127.0.0.1:9/", PIP_NO_INDEX="0",
                   PYTHONUSERBASE=str(hostile / "userbase"))
        self.assertEqual(self.run_backend("install", "ok", env=env), {"ok": True})
        modules = list((self.root / "venv").rglob("lanqi_sample/__init__.py"))
        self.assertEqual([path.read_text().count("HOSTILE") for path in modules], [0])  # the bundled wheel only
        self.assertFalse((hostile / "userbase").exists())  # nothing installed outside the venv
        self.assertEqual(self.run_backend("launch", "code", env=env), {"code": "launched"})

if __name__ == "__main__":
    PAYLOAD = Path(sys.argv.pop(1)).resolve()
    unittest.main()
