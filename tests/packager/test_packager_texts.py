#!/usr/bin/env python3
"""Texts that a packager sets at build time reach the program exactly, whatever they hold.

Usage: test_packager_texts.py <cmake> <C++ compiler> <source folder>
"""
import os
import subprocess
import sys
import tempfile
import unittest

CMAKE, CXX, SOURCE = sys.argv[1:4]
del sys.argv[1:4]

TEXTS = {
    "COPYRIGHT_TEXT": '© 2026 "岚栖" \\工作室\\n; $x ${y} @z@',
    "WEBSITE_HOST": "a\\\"b",
    "WEBSITE_URL": "https://example.com/?q=\"1\"&r=\\",
    "CHAT_GROUP": "line one\nline two\r\tend",
    "IMAGE_MODELS": "🚀 / \u202eRTL / ??= / */ // x",
    "VIDEO_MODELS": "",
}


class PackagerTextsTest(unittest.TestCase):
    def test_every_text_arrives_exactly(self):
        with tempfile.TemporaryDirectory() as folder:
            header = os.path.join(folder, "app", "launcher_texts.h")
            defines = [f"-DLAUNCHER_{name}={value}" for name, value in TEXTS.items()]
            subprocess.run([CMAKE, *defines, f"-DTEXTS_OUT={header}", "-P",
                            os.path.join(SOURCE, "cmake", "WriteLauncherTexts.cmake")], check=True)
            program = os.path.join(folder, "print.cpp")
            with open(program, "w", encoding="utf-8") as handle:
                handle.write('#include <cstdio>\n#include <initializer_list>\n#include "app/launcher_texts.h"\nint main() {\n'
                             '  for (const char* t : {app::kCopyrightText, app::kWebsiteHost, app::kWebsiteUrl,'
                             ' app::kChatGroupNumber, app::kImageModels, app::kVideoModels})'
                             ' std::printf("%s%c", t, 0);\n}\n')
            binary = os.path.join(folder, "print")
            subprocess.run([CXX, "-std=c++20", "-Wall", "-Werror", "-I", folder, program, "-o", binary], check=True)
            printed = subprocess.run([binary], check=True, capture_output=True).stdout.split(b"\0")[:-1]
            self.assertEqual([text.decode("utf-8") for text in printed], list(TEXTS.values()))


if __name__ == "__main__":
    unittest.main()
