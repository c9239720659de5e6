#!/usr/bin/env python3
"""Tests of the sample runtime's reference backend, run the way the launcher runs it.

Usage: test_launcher_backend.py <assembled runtime folder> (Resources/runtime of the bundle)
"""
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


class RuntimeRoot:
    """A managed runtime root under a data path with spaces, synced as the launcher syncs it."""

    def __init__(self, base):
        self.data = Path(base) / "Application Support" / "Zovavir Ever Odaravuz"
        self.root = self.data / "runtime"
        self.root.mkdir(parents=True)
        machine = "macos-arm64"
        for name in ("README.md", "requirements.txt", "scripts", "web_lite3"):
            self.copy(PAYLOAD / "common" / name, self.root / name)
        for name in ("python", "wheelhouse", "ffmpeg"):
            self.copy(PAYLOAD / machine / name, self.root / name)

    @staticmethod
    def copy(source, destination):
        if source.is_dir():
            shutil.copytree(source, destination, symlinks=True)
        else:
            shutil.copy2(source, destination)

    def run(self, action, timeout=300, env=None):
        """Runs `python3.11 scripts/launcher_backend.py action` with both streams piped, as the launcher does."""
        done = subprocess.run(
            [str(self.root / "python/bin/python3.11"), str(self.root / "scripts/launcher_backend.py"), action],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, env=env)
        self.errors = done.stderr.decode("utf-8")
        text = done.stdout.decode("utf-8")
        result = json.loads(text)  # the whole output is one JSON object
        assert set(result) == MEMBERS, result
        return result

    def state(self):
        path = self.data / "frontend.json"
        return json.loads(path.read_text()) if path.exists() else {}


def fetch(url):
    with urllib.request.urlopen(url, timeout=5) as response:
        return response.read().decode("utf-8")


class ReferenceBackendTest(unittest.TestCase):
    def setUp(self):
        self.base = tempfile.mkdtemp(prefix="backend test ")
        self.world = RuntimeRoot(self.base)
        self.started = []

    def tearDown(self):
        for pid in self.started:
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        shutil.rmtree(self.base, ignore_errors=True)

    def test_check_install_check_launch_and_launch_again(self):
        python_files = sorted(self.world.root.joinpath("python").rglob("*"))
        before = self.world.run("check")
        self.assertFalse(before["ok"])
        self.assertEqual(before["code"], "not_installed")
        self.assertTrue(before["show_install"])
        self.assertFalse(before["enable_launch"])
        self.assertIn("一键安装环境", before["detail_text"])

        refused = self.world.run("launch")
        self.assertEqual(refused["code"], "not_installed")

        installed = self.world.run("install")
        self.assertTrue(installed["ok"], installed)
        self.assertEqual(installed["code"], "installed")
        self.assertTrue(installed["enable_launch"])
        self.assertTrue((self.world.root / "venv").is_dir())  # beside the seven entries
        self.assertIn("正在安装 2/3：安装 1 个依赖包\n", self.world.errors)  # the window's progress line

        ready = self.world.run("check")
        self.assertTrue(ready["ok"], ready)
        self.assertTrue(ready["enable_launch"])
        self.assertFalse(ready["show_install"])

        # The launch returns at once although its server keeps running: the server holds none of our pipes.
        started = time.monotonic()
        launched = self.world.run("launch", timeout=60)
        self.assertLess(time.monotonic() - started, 30)
        self.assertTrue(launched["ok"], launched)
        self.assertEqual(launched["code"], "launched")
        self.assertIn("正在启动 1/1：", self.world.errors)
        url = launched["target_url"]
        self.assertTrue(url.startswith("http://127.0.0.1:"))
        self.assertIn(url, launched["status_text"])
        self.started.append(self.world.state()["pid"])
        self.assertIn("岚栖", fetch(url))
        self.assertTrue((self.world.data / "logs" / "frontend.log").exists())

        again = self.world.run("launch")
        self.assertEqual(again["code"], "running")
        # Byte code was compiled ahead: no run wrote anything into the interpreter's folder.
        self.assertEqual(sorted(self.world.root.joinpath("python").rglob("*")), python_files)
        self.assertEqual(again["target_url"], url)
        self.assertEqual(self.world.state()["pid"], self.started[0])

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
        installed = self.world.run("install", env=env)
        self.assertTrue(installed["ok"], installed)
        modules = list((self.world.root / "venv").rglob("lanqi_sample/__init__.py"))
        self.assertEqual(len(modules), 1, modules)
        self.assertNotIn("HOSTILE", modules[0].read_text())  # the bundled wheel, not the user's
        self.assertFalse((hostile / "userbase").exists())  # nothing installed outside the venv
        self.assertTrue(self.world.run("check", env=env)["ok"])
        launched = self.world.run("launch", timeout=60, env=env)
        self.assertEqual(launched["code"], "launched", launched)
        self.started.append(self.world.state()["pid"])

    def test_a_process_it_did_not_start_is_neither_reused_nor_stopped(self):
        self.assertTrue(self.world.run("install")["ok"])
        stranger = subprocess.Popen([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "0"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            (self.world.data / "frontend.json").write_text(
                json.dumps({"pid": stranger.pid, "port": 1, "token": "not ours"}))
            launched = self.world.run("launch", timeout=60)
            self.assertEqual(launched["code"], "launched", launched)
            self.started.append(self.world.state()["pid"])
            self.assertNotEqual(self.world.state()["pid"], stranger.pid)
            self.assertIsNone(stranger.poll())  # still running
        finally:
            stranger.kill()
            stranger.wait()

    def test_a_failing_install_reports_the_installers_last_lines(self):
        shutil.rmtree(self.world.root / "wheelhouse")
        (self.world.root / "wheelhouse").mkdir()
        (self.world.root / "wheelhouse" / "lanqi_sample-1.0.0-py3-none-any.whl").write_bytes(b"not a zip")
        failed = self.world.run("install")
        self.assertFalse(failed["ok"])
        self.assertEqual(failed["code"], "install_failed")
        self.assertTrue(failed["show_install"])
        self.assertNotEqual(failed["detail_text"].strip(), "")

    def test_unknown_action_and_empty_wheelhouse_still_print_one_object(self):
        self.assertEqual(self.world.run("frobnicate")["code"], "bad_action")
        shutil.rmtree(self.world.root / "wheelhouse")
        broken = self.world.run("check")
        self.assertFalse(broken["ok"])
        self.assertFalse(broken["show_install"])


if __name__ == "__main__":
    PAYLOAD = Path(sys.argv.pop(1)).resolve()
    unittest.main()
