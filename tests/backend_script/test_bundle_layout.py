#!/usr/bin/env python3
"""The assembled bundle: usage test_bundle_layout.py <Name.app> <executable name> <version>."""
import os
import plistlib
import sys
import unittest

APP, NAME, VERSION = sys.argv[1:4]
del sys.argv[1:4]


class BundleLayoutTest(unittest.TestCase):
    def test_contents(self):
        contents = os.path.join(APP, "Contents")
        self.assertTrue(os.access(os.path.join(contents, "MacOS", NAME), os.X_OK))
        with open(os.path.join(contents, "Info.plist"), "rb") as handle:
            info = plistlib.load(handle)
        self.assertEqual(info["DuredazArodaziDudoved"], VERSION)
        self.assertEqual(info["CFBundleExecutable"], NAME)
        self.assertEqual(info["LSMinimumSystemVersion"], "11.0")
        runtime = os.path.join(contents, "Resources", "runtime")
        for name in ("README.md", "requirements.txt", "scripts/launcher_backend.py", "web_lite3/index.html"):
            self.assertTrue(os.path.exists(os.path.join(runtime, "common", name)), name)
        for machine in ("macos-arm64", "macos-x86_64"):
            bin_dir = os.path.join(runtime, machine, "python", "bin")
            self.assertEqual(os.readlink(os.path.join(bin_dir, "python3")), "python3.11")
            self.assertEqual(os.readlink(os.path.join(bin_dir, "python")), "python3.11")
            wheels = os.listdir(os.path.join(runtime, machine, "wheelhouse"))
            self.assertTrue(any(name.endswith("-py3-none-any.whl") for name in wheels))
            self.assertTrue(os.path.exists(os.path.join(runtime, machine, "ffmpeg", "bin", "ffmpeg")))


if __name__ == "__main__":
    unittest.main()
