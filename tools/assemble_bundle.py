#!/usr/bin/env python3
"""Assembles <Name>.app/Contents/{MacOS/<exe>, Info.plist, Resources/runtime/...}.

The runtime comes from a packager's payload folder (holding common, macos-arm64 and macos-x86_64) when one is
given, else from the sample runtime: its common payload, and for each architecture a real CPython 3.11 made
from this machine's own (Debian's interpreter and standard library, relocated so that it runs from the copy
alone; where there is none, a shim that runs the host's Python 3), an ffmpeg shim, "python3" and "python"
links, and a wheelhouse with wheels built from the sample package.

Every Python file of a payload's interpreter is compiled ahead, in the hash-based mode that does not depend on
modification times, so that no run writes byte code into the runtime and no copy makes it stale.
"""
import argparse
import os
import shutil
import subprocess
import sys

ARCHITECTURES = ("macos-arm64", "macos-x86_64")


HOST_PYTHON = "/usr/bin/python3.11"
HOST_STDLIB = "/usr/lib/python3.11"
# Left out of the relocated standard library: tests, GUI toolkits and the distribution's own hooks and links.
STDLIB_LEFT_OUT = ("__pycache__", "*.pyc", "test", "idlelib", "tkinter", "turtledemo", "EXTERNALLY-MANAGED",
                   "sitecustomize.py", "dist-packages", "config-3.11-*")
WHEELS = "/usr/share/python-wheels"


def copy_tree(source, destination):
    shutil.copytree(source, destination, symlinks=True, ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))


def relocated_cpython(python_dir):
    """Makes `python_dir` a CPython 3.11 that runs from there alone: the host's interpreter (Debian builds it
    with the library linked in), its standard library with the extension modules, and ensurepip's wheels, so
    that `venv` works offline. Returns False, leaving nothing, where this machine has no such interpreter."""
    if not (os.access(HOST_PYTHON, os.X_OK) and os.path.isfile(os.path.join(HOST_STDLIB, "os.py"))):
        return False
    stdlib = os.path.join(python_dir, "lib", "python3.11")
    os.makedirs(os.path.join(python_dir, "bin"))
    shutil.copy2(HOST_PYTHON, os.path.join(python_dir, "bin", "python3.11"))
    shutil.copytree(HOST_STDLIB, stdlib, symlinks=False, ignore=shutil.ignore_patterns(*STDLIB_LEFT_OUT))
    os.makedirs(os.path.join(stdlib, "site-packages"), exist_ok=True)
    bundled = os.path.join(stdlib, "ensurepip", "_bundled")
    os.makedirs(bundled, exist_ok=True)
    for wheel in os.listdir(WHEELS) if os.path.isdir(WHEELS) else []:
        if wheel.startswith(("pip-", "setuptools-")) and wheel.endswith(".whl"):
            shutil.copy2(os.path.join(WHEELS, wheel), bundled)
    # Debian's ensurepip looks for its wheels in a system folder; the copy's are beside it.
    ensurepip = os.path.join(stdlib, "ensurepip", "__init__.py")
    with open(ensurepip, encoding="utf-8") as handle:
        text = handle.read()
    text = text.replace("_WHEEL_PKG_DIR = sysconfig.get_config_var('WHEEL_PKG_DIR')",
                        "_WHEEL_PKG_DIR = os.path.join(os.path.dirname(__file__), '_bundled')")
    with open(ensurepip, "w", encoding="utf-8") as handle:
        handle.write(text)
    probe = subprocess.run([os.path.join(python_dir, "bin", "python3.11"), "-I", "-c",
                            "import sys, ensurepip, venv; print(sys.prefix)"], capture_output=True, text=True)
    if probe.returncode != 0 or os.path.realpath(probe.stdout.strip()) != os.path.realpath(python_dir) or \
            not os.listdir(bundled):
        shutil.rmtree(python_dir)
        return False
    return True


def compile_ahead(payload, python):
    """Compiles the Python files of a payload's interpreter to byte code that stays valid whatever happens to
    the files' times: with the payload's own interpreter where it runs here, else with this one when it is of
    the same version; says so where neither can. Files that do not compile (test data in old syntax) are left
    as they are."""
    lib = os.path.join(payload, "python", "lib")
    versions = [name for name in os.listdir(lib) if name.startswith("python3.")] if os.path.isdir(lib) else []
    for version in versions:
        arguments = ["-I", "-m", "compileall", "-q", "-j", "0", "--invalidation-mode", "checked-hash",
                     os.path.join(lib, version)]
        compilers = [python] + ([sys.executable] if version == "python%d.%d" % sys.version_info[:2] else [])
        for compiler in compilers:
            try:
                subprocess.run([compiler] + arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                break
            except OSError:  # an interpreter for another system
                continue
        else:
            print("note: %s/python not compiled ahead: no %s runs here" % (payload, version), file=sys.stderr)


def sample_runtime(sample, runtime, python):
    copy_tree(os.path.join(sample, "runtime", "common"), os.path.join(runtime, "common"))
    made = None  # this machine has one interpreter: it is made once and copied for the other architecture
    for architecture in ARCHITECTURES:
        payload = os.path.join(runtime, architecture)
        copy_tree(os.path.join(sample, "runtime", "arch"), payload)
        python_dir = os.path.join(payload, "python")
        if made:
            shutil.rmtree(python_dir)
            shutil.copytree(made, python_dir, symlinks=True)
        else:
            relocated = os.path.join(payload, "python-relocated")
            if relocated_cpython(relocated):  # else the sample's shim stays
                shutil.rmtree(python_dir)
                os.rename(relocated, python_dir)
            for alias in ("python3", "python"):
                os.symlink("python3.11", os.path.join(python_dir, "bin", alias))
            compile_ahead(payload, os.path.join(python_dir, "bin", "python3.11"))
            made = python_dir
        subprocess.run(
            [python, os.path.join(sample, "package", "make_wheel.py"), os.path.join(sample, "package", "lanqi_sample"),
             "1.0.0", os.path.join(payload, "wheelhouse")],
            check=True, stdout=subprocess.DEVNULL)


# The macOS icon file's entries that hold PNG data, by the pixel size they take.
ICNS_TYPES = {16: [b"icp4"], 32: [b"icp5", b"ic11"], 64: [b"ic12"], 128: [b"ic07"], 256: [b"ic08", b"ic13"],
              512: [b"ic09", b"ic14"]}


def write_icns(pngs, destination):
    """Writes the icon file that Finder and the Dock show (Resources/AppIcon.icns) from PNG files named by their
    pixel size: the 'icns' container, one PNG entry per size and resolution."""
    entries = b""
    for png in sorted(pngs, key=lambda path: int(os.path.splitext(os.path.basename(path))[0])):
        size = int(os.path.splitext(os.path.basename(png))[0])
        with open(png, "rb") as handle:
            data = handle.read()
        for kind in ICNS_TYPES.get(size, []):
            entries += kind + (len(data) + 8).to_bytes(4, "big") + data
    with open(destination, "wb") as handle:
        handle.write(b"icns" + (len(entries) + 8).to_bytes(4, "big") + entries)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True, help="the .app folder to make")
    parser.add_argument("--executable", help="the launcher executable (left out on Apple, where CMake makes it)")
    parser.add_argument("--info-plist", help="the configured Info.plist")
    parser.add_argument("--payload", default="", help="a packager's runtime payload folder")
    parser.add_argument("--sample", required=True, help="the repository's sample folder")
    parser.add_argument("--resource", action="append", default=[], metavar="FILE=PATH",
                        help="a file to carry as Resources/PATH (the icon, translations)")
    parser.add_argument("--icon", action="append", default=[], metavar="PNG",
                        help="the icon at one size, named <pixels>.png, for Resources/AppIcon.icns")
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
                compile_ahead(os.path.join(runtime, name), os.path.join(runtime, name, "python", "bin", "python3.11"))
    else:
        sample_runtime(options.sample, runtime, sys.executable)
    for resource in options.resource:
        source, _, path = resource.partition("=")
        destination = os.path.join(contents, "Resources", path)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(source, destination)
    if options.icon:
        write_icns(options.icon, os.path.join(contents, "Resources", "AppIcon.icns"))
    # Last: the manifest describes the payload as it ships.
    subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "payload-manifest"),
                    options.app], check=True)
    print(options.app)
    return 0


if __name__ == "__main__":
    sys.exit(main())
