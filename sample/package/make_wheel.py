#!/usr/bin/env python3
"""Builds a pure-Python wheel of the sample package, offline, with the standard library only.

Usage: make_wheel.py <package folder> <version> <output folder>
"""
import base64
import hashlib
import os
import sys
import zipfile


def record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def main() -> int:
    package_dir, version, out_dir = sys.argv[1], sys.argv[2], sys.argv[3]
    package = os.path.basename(os.path.normpath(package_dir))
    distribution = package.replace("_", "-")
    dist_info = f"{package}-{version}.dist-info"
    files = {}
    for folder, _, names in os.walk(package_dir):
        for name in sorted(names):
            if name.endswith(".pyc"):
                continue
            path = os.path.join(folder, name)
            arcname = os.path.join(package, os.path.relpath(path, package_dir)).replace(os.sep, "/")
            with open(path, "rb") as handle:
                files[arcname] = handle.read()
    files[f"{dist_info}/METADATA"] = (
        f"Metadata-Version: 2.1\nName: {distribution}\nVersion: {version}\nSummary: Sample package\n"
    ).encode()
    files[f"{dist_info}/WHEEL"] = b"Wheel-Version: 1.0\nGenerator: make_wheel\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    record = [record_line(name, data) for name, data in sorted(files.items())]
    record.append(f"{dist_info}/RECORD,,")
    files[f"{dist_info}/RECORD"] = ("\n".join(record) + "\n").encode()

    os.makedirs(out_dir, exist_ok=True)
    wheel = os.path.join(out_dir, f"{package}-{version}-py3-none-any.whl")
    with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            archive.writestr(info, data, zipfile.ZIP_DEFLATED)
    print(wheel)
    return 0


if __name__ == "__main__":
    sys.exit(main())
