#!/usr/bin/env python3
"""Texts that a packager sets at build time reach the program exactly, whatever they hold: the generated header
is compiled into a program that prints them back.

Usage: test_packager_texts.py <cmake> <C++ compiler> <source folder>
"""
import os
import subprocess
import sys
import tempfile

TEXTS = {
    "COPYRIGHT_TEXT": '© 2026 "岚栖" \\工作室\\n; $x ${y} @z@',
    "WEBSITE_HOST": "a\\\"b",
    "WEBSITE_URL": "https://example.com/?q=\"1\"&r=\\",
    "CHAT_GROUP": "line one\nline two\r\tend",
    "IMAGE_MODELS": "🚀 / \u202eRTL / ??= / */ // x",
    "VIDEO_MODELS": "",
}
PRINT = """#include <cstdio>
#include <initializer_list>
#include "app/launcher_texts.h"
int main() {
  for (const char* t : {app::kCopyrightText, app::kWebsiteHost, app::kWebsiteUrl, app::kChatGroupNumber,
                        app::kImageModels, app::kVideoModels}) std::printf("%s%c", t, 0);
}
"""

cmake, cxx, source = sys.argv[1:4]
with tempfile.TemporaryDirectory() as folder:
    defines = [f"-DLAUNCHER_{name}={value}" for name, value in TEXTS.items()]
    subprocess.run([cmake, *defines, f"-DTEXTS_OUT={folder}/app/launcher_texts.h", "-P",
                    os.path.join(source, "cmake", "WriteLauncherTexts.cmake")], check=True)
    with open(os.path.join(folder, "print.cpp"), "w", encoding="utf-8") as handle:
        handle.write(PRINT)
    subprocess.run([cxx, "-std=c++20", "-Wall", "-Werror", "-I", folder, f"{folder}/print.cpp", "-o",
                    f"{folder}/print"], check=True)
    printed = subprocess.run([f"{folder}/print"], check=True, capture_output=True).stdout.split(b"\0")[:-1]
    if [text.decode("utf-8") for text in printed] != list(TEXTS.values()):
        sys.exit(f"the texts changed on their way: {printed!r}")
print("every packager text arrived exactly")
