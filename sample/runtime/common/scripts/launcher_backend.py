#!/usr/bin/env python3
"""The launcher's backend: run as `python launcher_backend.py <check|install|launch>`.

It prints exactly one JSON object on standard output, with the members ok, code, status_text, detail_text,
show_install, enable_launch and target_url; diagnostics go to standard error only. Tools always run as
`python -m ...`, never through script first lines, because the user's data path holds spaces.

Layout, relative to this file: the runtime root is the folder above "scripts"; the virtual environment lives
beside the runtime's seven entries ("venv", which the launcher's sync never removes), and the data folder above
the runtime root holds the front end's state file and log.
"""
import os
import sys

# The user's own Python and pip settings must not change what this script does: it runs in the interpreter's
# isolated mode (no PYTHON* variables, no user site folder, not its own folder on the import path), and
# starts again in it when the launcher, which passes its environment on, started it otherwise. Nothing is
# imported before this point but what the interpreter has already loaded.
if not sys.flags.isolated:
    os.execv(sys.executable, [sys.executable, "-I", os.path.abspath(__file__)] + sys.argv[1:])

import contextlib  # noqa: E402 (after the isolation above, by design)
import json  # noqa: E402
import secrets
import subprocess
import time
import traceback
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DATA = ROOT.parent
VENV = ROOT / "venv"
WHEELHOUSE = ROOT / "wheelhouse"
REQUIREMENTS = ROOT / "requirements.txt"
WEB_ROOT = ROOT / "web_lite3"
FFMPEG = ROOT / "ffmpeg" / "bin" / "ffmpeg"
STATE_FILE = DATA / "frontend.json"
LOG_FILE = DATA / "logs" / "frontend.log"
LOG_ROTATE_BYTES = 1 << 20  # as the launcher's own log: past this size it moves to .1, and three old files stay
LOG_KEPT_FILES = 3
TOKEN_PATH = "/__launcher__/token"
START_TIMEOUT = 20.0


def result(ok, code, status, detail="", show_install=False, enable_launch=False, target_url=""):
    return {
        "ok": ok,
        "code": code,
        "status_text": status,
        "detail_text": detail,
        "show_install": show_install,
        "enable_launch": enable_launch,
        "target_url": target_url,
    }


def log(message):
    print(message, file=sys.stderr, flush=True)


def progress(verb, step, total, what):
    """A short line for the window's progress line, which shows the latest line of standard error."""
    log("正在%s %d/%d：%s" % (verb, step, total, what))


def last_lines(text, count=8):
    lines = [line for line in text.strip().splitlines() if line.strip()]
    return "\n".join(lines[-count:])


# The environment of the tools it starts: the launcher's, without the variables that steer Python or pip.
TOOL_ENVIRONMENT = {key: value for key, value in os.environ.items() if not key.startswith(("PYTHON", "PIP_"))}


def run(command, timeout=600):
    """Runs a tool with its output captured (never on our standard output); returns (status, output).

    Its output goes to standard error when it ends, with the command when it failed; the progress line that the
    caller writes before it stays the latest line while it runs."""
    try:
        done = subprocess.run(
            [str(part) for part in command],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            timeout=timeout,
            env=TOOL_ENVIRONMENT,
        )
    except (OSError, subprocess.TimeoutExpired) as error:
        log("failed: %s: %s" % (" ".join(str(part) for part in command), error))
        return 1, str(error)
    output = done.stdout.decode("utf-8", "replace")
    if output:
        log(output.rstrip())
    if done.returncode != 0:
        log("failed with status %d: %s" % (done.returncode, " ".join(str(part) for part in command)))
    return done.returncode, output


def venv_python():
    return VENV / "bin" / "python"


def wheels():
    return sorted(WHEELHOUSE.glob("*.whl")) if WHEELHOUSE.is_dir() else []


def requirements():
    lines = REQUIREMENTS.read_text(encoding="utf-8").splitlines() if REQUIREMENTS.is_file() else []
    return [line.split("#", 1)[0].strip() for line in lines if line.split("#", 1)[0].strip()]


def environment_installed():
    """True when the virtual environment runs and holds every pinned requirement."""
    if not venv_python().exists():
        return False
    probe = (
        "import sys, importlib.metadata as m\n"
        "for requirement in sys.argv[1:]:\n"
        "    name, _, version = requirement.partition('==')\n"
        "    if m.version(name.strip()) != version.strip(): sys.exit(1)\n"
    )
    status, _ = run([venv_python(), "-I", "-c", probe] + requirements(), timeout=60)
    return status == 0


def ffmpeg_summary():
    status, output = run([FFMPEG, "-version"], timeout=20)
    if status == 0 and output.strip():
        return output.strip().splitlines()[0]
    return "未找到可用的 ffmpeg（视频处理将不可用）"


def check():
    python = "Python %d.%d.%d" % sys.version_info[:3]
    if sys.version_info < (3, 9):
        return result(False, "runtime_broken", "内置 Python 版本过低", python + "，需要 3.9 或更高版本。")
    found = wheels()
    if not found:
        return result(False, "runtime_broken", "离线安装包缺失", "wheelhouse 中没有任何安装包，请重新下载最新版。")
    summary = "\n".join([python, "离线安装包：%d 个" % len(found), "ffmpeg：" + ffmpeg_summary()])
    if not environment_installed():
        return result(
            False,
            "not_installed",
            "运行环境尚未安装",
            "首次使用需要安装运行环境：将从内置的 %d 个离线安装包安装依赖，无需联网。\n点击“一键安装环境”开始。"
            % len(found),
            show_install=True,
        )
    return result(True, "ready", "环境就绪，可以启动", summary, enable_launch=True)


def install():
    if not wheels():
        return result(False, "install_failed", "环境安装失败", "wheelhouse 中没有任何安装包，请重新下载最新版。")
    if not venv_python().exists():
        progress("安装", 1, 3, "创建虚拟环境")
        status, output = run([sys.executable, "-I", "-m", "venv", VENV])
        if status != 0:
            return result(False, "install_failed", "环境安装失败", last_lines(output), show_install=True)
    progress("安装", 2, 3, "安装 %d 个依赖包" % len(requirements()))
    status, output = run(
        [venv_python(), "-I", "-m", "pip", "install", "--isolated", "--no-index", "--find-links", WHEELHOUSE,
         "--disable-pip-version-check", "--no-input", "-r", REQUIREMENTS]
    )
    progress("安装", 3, 3, "校验安装")
    if status != 0 or not environment_installed():
        return result(False, "install_failed", "环境安装失败", last_lines(output) or "安装未完成。", show_install=True)
    return result(True, "installed", "环境安装完成", "", enable_launch=True)


def read_state():
    try:
        state = json.loads(STATE_FILE.read_text(encoding="utf-8"))
        return state if isinstance(state, dict) else {}
    except (OSError, ValueError):
        return {}


def answers(port, token):
    """True when our own server, the one holding `token`, answers on `port`."""
    try:
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (port, TOKEN_PATH), timeout=2) as response:
            return response.read().decode("utf-8", "replace") == token
    except (OSError, ValueError):
        return False


def running_server():
    state = read_state()
    port, token = state.get("port"), state.get("token")
    if isinstance(port, int) and isinstance(token, str) and answers(port, token):
        return port
    return None


def rotate_log():
    """Moves a log that has grown past its size to frontend.log.1 (the older ones one number up)."""
    try:
        if LOG_FILE.stat().st_size <= LOG_ROTATE_BYTES:
            return
    except OSError:
        return
    for number in range(LOG_KEPT_FILES - 1, 0, -1):
        with contextlib.suppress(OSError):
            os.replace("%s.%d" % (LOG_FILE, number), "%s.%d" % (LOG_FILE, number + 1))
    with contextlib.suppress(OSError):
        os.replace(LOG_FILE, "%s.1" % LOG_FILE)


def start_server():
    token = secrets.token_hex(16)
    LOG_FILE.parent.mkdir(parents=True, exist_ok=True)
    rotate_log()
    server = Path(__file__).resolve().parent / "frontend_server.py"
    with open(LOG_FILE, "ab") as log_file:
        child = subprocess.Popen(
            [str(venv_python()), "-I", str(server), "--root", str(WEB_ROOT), "--state", str(STATE_FILE), "--token",
             token],
            env=TOOL_ENVIRONMENT,
            stdin=subprocess.DEVNULL,
            stdout=log_file,
            stderr=subprocess.STDOUT,
            start_new_session=True,
            close_fds=True,
            cwd=str(WEB_ROOT),
        )
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline:
        state = read_state()
        if state.get("token") == token and isinstance(state.get("port"), int) and answers(state["port"], token):
            return state["port"], ""
        if child.poll() is not None:
            break
        time.sleep(0.1)
    try:
        tail = last_lines(LOG_FILE.read_text(encoding="utf-8", errors="replace"))
    except OSError:
        tail = ""
    return None, tail or "前端服务没有在 %d 秒内响应。" % START_TIMEOUT


def launch():
    if not environment_installed():
        return result(False, "not_installed", "请先安装运行环境", "点击“一键安装环境”后再启动。", show_install=True)
    port = running_server()
    if port is not None:
        url = "http://127.0.0.1:%d/" % port
        return result(True, "running", "前端已在运行：" + url, "", enable_launch=True, target_url=url)
    progress("启动", 1, 1, "启动前端服务并等待响应")
    port, problem = start_server()
    if port is None:
        return result(False, "launch_failed", "前端启动失败", problem, enable_launch=True)
    url = "http://127.0.0.1:%d/" % port
    return result(True, "launched", "前端已启动：" + url, "", enable_launch=True, target_url=url)


ACTIONS = {"check": check, "install": install, "launch": launch}


def main(argv):
    action = argv[1] if len(argv) == 2 else ""
    try:
        if action not in ACTIONS:
            outcome = result(False, "bad_action", "未知的操作", "用法：launcher_backend.py check|install|launch")
        else:
            outcome = ACTIONS[action]()
    except Exception:  # the launcher must always get its one object
        details = traceback.format_exc()
        log(details)
        outcome = result(False, "backend_error", "后端出错", last_lines(details))
    sys.stdout.write(json.dumps(outcome, ensure_ascii=False) + "\n")
    sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
