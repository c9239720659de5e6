#!/usr/bin/env python3
"""Assembles <Name>.app/Contents/{MacOS/<exe>, Info.plist, Resources/runtime/...}.

The runtime comes from a packager's payload folder (holding common, macos-arm64 and macos-x86_64) when one is
given, else from the sample runtime: its common payload, and for each architecture the sample interpreter and
ffmpeg shims with "python3" and "python" links, and a wheelhouse with wheels built from the sample package.
"""
import argparse
import os
import shutil
import subprocess
import sys

ARCHITECTURES = ("macos-arm64", "macos-x86_64")


def copy_tree(source, destination):
    shutil.copytree(source, destination, symlinks=True, ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))


def sample_runtime(sample, runtime, python):
    copy_tree(os.path.join(sample, "runtime", "common"), os.path.join(runtime, "common"))
    for architecture in ARCHITECTURES:
        payload = os.path.join(runtime, architecture)
        copy_tree(os.path.join(sample, "runtime", "arch"), payload)
        bin_dir = os.path.join(payload, "python", "bin")
        for alias in ("python3", "python"):
            os.symlink("python3.11", os.path.join(bin_dir, alias))
        subprocess.run(
            [python, os.path.join(sample, "package", "make_wheel.py"), os.path.join(sample, "package", "lanqi_sample"),
             "1.0.0", os.path.join(payload, "wheelhouse")],
            check=True, stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True, help="the .app folder to make")
    parser.add_argument("--executable", help="the launcher executable (left out on Apple, where CMake makes it)")
    parser.add_argument("--info-plist", help="the configured Info.plist")
    parser.add_argument("--payload", default="", help="a packager's runtime payload folder")
    parser.add_argument("--sample", required=True, help="the repository's sample folder")
    options = parser.parse_args()

    contents = os.path.join(options.app, "Contents")
    if options.executable:
        shutil.rmtree(options.app, ignore_errors=True)
        os.makedirs(os.path.join(contents, "MacOS"))
        shutil.copy2(options.executable, os.path.join(contents, "MacOS", os.path.basename(options.executable)))
        shutil.copy2(options.info_plist, os.path.join(contents, "Info.plist"))
    runtime = os.path.join(contents, "Resources", "runtime")
    shutil.rmtree(runtime, ignore_errors=True)
    os.makedirs(os.path.dirname(runtime), exist_ok=True)
    if options.payload:
        for name in ("common",) + ARCHITECTURES:
            if os.path.isdir(os.path.join(options.payload, name)):
                copy_tree(os.path.join(options.payload, name), os.path.join(runtime, name))
    else:
        sample_runtime(options.sample, runtime, sys.executable)
    print(options.app)
    return 0


if __name__ == "__main__":
    sys.exit(main())
