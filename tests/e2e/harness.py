"""End-to-end harness: the real zelto-cua.exe under Wine on an Xvfb desktop.

One desktop per test run (scripts/desktop.sh brings it up once). Results are
read up to the line feed or until the Wine process exits, never until a pipe's
end of file: programs an action starts may hold the pipe open for ever.
"""

import contextlib
import json
import os
import shlex
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("ZELTO_E2E_BUILD", ROOT / "build" / "windows-cross"))
EXE = BUILD / "zelto-cua.exe"
PROBE = BUILD / "tests" / "e2e" / "zelto-probe.exe"

_desktop_env = None
_desktop_lock = threading.Lock()


def desktop_env():
    """Starts (once) and returns the environment of the headless desktop."""
    global _desktop_env
    with _desktop_lock:
        if _desktop_env is None:
            env = dict(os.environ)
            env.setdefault("ZELTO_WINEPREFIX", str(BUILD / "wineprefix"))
            env.setdefault("ZELTO_TOOLS_DIR", str(BUILD / "tests" / "e2e" / "tools"))
            out = subprocess.run(
                ["bash", str(ROOT / "scripts" / "desktop.sh"), "start"],
                env=env, check=True, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                timeout=300,
            ).stdout.decode()
            for token in shlex.split(out):
                if token != "export":
                    key, _, value = token.partition("=")
                    env[key] = value
            _desktop_env = env
        return dict(_desktop_env)


def wine_prefix():
    return Path(desktop_env()["WINEPREFIX"])


def start_desktop(settings):
    """Starts another desktop (scripts/desktop.sh with these ZELTO_* settings) and
    returns its environment, for the `desktop` argument of the helpers below."""
    env = dict(os.environ)
    env.setdefault("ZELTO_TOOLS_DIR", str(BUILD / "tests" / "e2e" / "tools"))
    env.update(settings)
    out = subprocess.run(["bash", str(ROOT / "scripts" / "desktop.sh"), "start"], env=env,
                         check=True, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                         timeout=300).stdout.decode()
    for token in shlex.split(out):
        if token != "export":
            key, _, value = token.partition("=")
            env[key] = value
    return env


def stop_desktop(desktop):
    subprocess.run(["bash", str(ROOT / "scripts" / "desktop.sh"), "stop"], env=desktop,
                   check=False, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def _env_of(desktop):
    return dict(desktop) if desktop is not None else desktop_env()


@dataclass
class Result:
    stdout: bytes
    exit_status: int
    stderr: bytes

    @property
    def json(self):
        return json.loads(self.stdout.decode("utf-8"))


def _pump(stream, sink, done_on_newline=None):
    while True:
        chunk = stream.read1(65536) if hasattr(stream, "read1") else stream.read(65536)
        if not chunk:
            return
        sink.extend(chunk)
        if done_on_newline is not None and b"\n" in chunk:
            done_on_newline.set()


# Wine's loader now and then fails to map the shared user data page (an address
# clash at process start, before any of the program runs), exits with status 1 and
# says so only on its err channel. Those runs are started again, and reported.
LOADER_CLASH = b"failed to map the shared user data"
LOADER_DEBUG = "-all,err+virtual"


def run_program(args, stdin_bytes=b"", env=None, timeout=60, grace=1.0, cwd=None, desktop=None):
    """Runs a Windows program under Wine (in `cwd`, which Wine maps to a drive
    path, when given) on the main desktop or `desktop`; returns (stdout, status, stderr)."""
    full_env = _env_of(desktop)
    full_env["WINEDEBUG"] = LOADER_DEBUG
    if env:
        full_env.update(env)
    for attempt in range(3):
        out, status, err = _run_once(args, stdin_bytes, full_env, timeout, grace, cwd)
        if not (status == 1 and not out and LOADER_CLASH in err):
            break
        print(f"[e2e] Wine could not start {args[0]} ({err.strip()[-120:]!r}), run again",
              file=sys.stderr, flush=True)
    return out, status, err


def _run_once(args, stdin_bytes, full_env, timeout, grace, cwd):
    process = subprocess.Popen(
        ["wine", *[str(a) for a in args]], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
        stderr=subprocess.PIPE, env=full_env, start_new_session=True, cwd=cwd,
    )
    out, err = bytearray(), bytearray()
    threads = [
        threading.Thread(target=_pump, args=(process.stdout, out), daemon=True),
        threading.Thread(target=_pump, args=(process.stderr, err), daemon=True),
    ]
    for thread in threads:
        thread.start()
    try:
        if stdin_bytes:
            process.stdin.write(stdin_bytes)
        process.stdin.close()
    except BrokenPipeError:
        pass
    try:
        status = process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        raise
    # Whatever the process wrote is in the pipes by now; do not wait for EOF.
    deadline = time.monotonic() + grace
    for thread in threads:
        thread.join(max(0.0, deadline - time.monotonic()))
    return bytes(out), status, bytes(err)


# Every result line of this run, for the schema check that follows the suite
# (tests/mcp/protocol_schema.test.mjs): one JSON record per executor run.
RESULTS_LOG = Path(os.environ.get("ZELTO_E2E_RESULTS", BUILD / "e2e-results.jsonl"))
RESULTS_LOG.unlink(missing_ok=True)


def _action_of(data):
    """The request's action name as the executor reads it, or None."""
    for line in data.decode("utf-8", "replace").split("\n"):
        if line.strip():
            try:
                request = json.loads(line.strip())
            except (ValueError, RecursionError):  # the deep-nesting request, too
                return None
            action = request.get("action") if isinstance(request, dict) else None
            return action if isinstance(action, str) else None
    return None


def record_result(request_bytes, stdout, status):
    record = {"action": _action_of(request_bytes), "exit_status": status,
              "line": stdout.decode("utf-8", "replace")}
    with open(RESULTS_LOG, "a", encoding="utf-8") as log:
        log.write(json.dumps(record) + "\n")


def run_action(request, env=None, timeout=60, cwd=None, exe=EXE, desktop=None):
    """Sends one request (str or bytes) to zelto-cua.exe (or a copy of it);
    returns its Result."""
    data = request.encode("utf-8") if isinstance(request, str) else request
    out, status, err = run_program([exe], data, env=env, timeout=timeout, cwd=cwd,
                                   desktop=desktop)
    record_result(data, out, status)
    return Result(out, status, err)


def x_pointer(desktop=None):
    """The pointer position as the X server reports it."""
    out = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=_env_of(desktop),
                         stdout=subprocess.PIPE, check=True).stdout.decode()
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"])


class Probe:
    """The probe application's window; records the messages it receives."""

    def __init__(self, log_path, rect=(100, 100, 640, 480), seconds=60, desktop=None,
                 quadrants=None, mode="window"):
        """`quadrants`: four 0xRRGGBB colours (top left, top right, bottom left,
        bottom right) for a frameless window painted in them. `mode` "buttons":
        the window that takes double clicks and logs more buttons and key state."""
        self.log_path = Path(log_path)
        self.log_path.unlink(missing_ok=True)
        x, y, w, h = rect
        paint = [",".join(f"{c:06x}" for c in quadrants)] if quadrants else []
        self.process = subprocess.Popen(
            ["wine", str(PROBE), mode, self._windows_path(self.log_path),
             str(x), str(y), str(w), str(h), str(seconds), *paint],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=_env_of(desktop), start_new_session=True,
        )
        self.wait_for(lambda m: m["msg"] == "ready", timeout=30)

    @staticmethod
    def _windows_path(path):
        return "Z:" + str(path).replace("/", "\\")

    def messages(self):
        if not self.log_path.exists():
            return []
        lines = self.log_path.read_text(encoding="utf-8").splitlines()
        return [json.loads(line) for line in lines if line.strip()]

    def wait_for(self, predicate, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for message in self.messages():
                if predicate(message):
                    return message
            time.sleep(0.05)
        raise AssertionError(f"probe never logged the expected message: {self.messages()[-5:]}")

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)


def wineserver_tasks():
    """The threads of this desktop's wineserver, found by its working folder, which Wine
    names after the prefix's device and inode."""
    prefix = os.stat(desktop_env()["WINEPREFIX"])
    folder = f"/server-{prefix.st_dev:x}-{prefix.st_ino:x}"
    tasks = []
    for process in Path("/proc").iterdir():
        try:
            if (process.name.isdigit() and os.readlink(process / "cwd").endswith(folder)
                    and (process / "comm").read_text().startswith("wineserver")):
                tasks += [int(task.name) for task in (process / "task").iterdir()]
        except OSError:
            continue  # gone, or not ours
    return tasks


@contextlib.contextmanager
def on_one_cpu():
    """Runs the wineserver, this thread and the Wine programs it starts meanwhile on one CPU.

    Every message a window takes from its queue is a round trip to the wineserver. On a
    virtual machine a round trip between two CPUs waits for the other CPU to wake, which
    makes a burst of a million of them several times slower than on one CPU."""
    cpu = min(os.sched_getaffinity(0))
    tasks = [0] + wineserver_tasks()
    saved = {task: os.sched_getaffinity(task) for task in tasks}
    try:
        for task in tasks:
            os.sched_setaffinity(task, {cpu})
        yield
    finally:
        for task, cpus in saved.items():
            with contextlib.suppress(ProcessLookupError):
                os.sched_setaffinity(task, cpus)


def top_windows(desktop=None):
    out, _, _ = run_program([PROBE, "windows"], desktop=desktop)
    return [json.loads(line) for line in out.decode("utf-8").splitlines() if line.strip()]


class WindowWatch:
    """Watches, from one probe process, for the first visible window of a class."""

    def __init__(self, class_name, seconds=30, desktop=None, row=False):
        """With `row`, the window's line is followed by one with the screen
        pixels of its middle row while it shows."""
        self.process = subprocess.Popen(
            ["wine", str(PROBE), "watch", class_name, str(seconds), *(["row"] if row else [])],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            env=_env_of(desktop), start_new_session=True,
        )
        self.lines = []
        self._ready = threading.Event()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        if not self._ready.wait(60):
            self.process.kill()
            raise AssertionError("window watch never started")

    def _read(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8").strip()
            if line == "ready":
                self._ready.set()
            elif line:
                self.lines.append(json.loads(line))

    def result(self, timeout=60):
        """The window seen, or None if none appeared before the watch ended."""
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
        self._reader.join(5)
        return self.lines[0] if self.lines else None


def locale_env(name):
    """Environment that makes Wine pick the Windows locale (and with it the
    ANSI and OEM code pages) of the Linux locale `name`, e.g. "zh_CN.UTF-8".
    The locale is compiled once into the build folder, since the machine need
    not have it installed. None when it cannot be made."""
    language, _, charset = name.partition(".")
    folder = BUILD / "locales"
    if not (folder / name / "LC_CTYPE").exists():
        folder.mkdir(parents=True, exist_ok=True)
        try:
            subprocess.run(["localedef", "-i", language, "-f", charset or "UTF-8",
                            str(folder / name)], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        except (OSError, subprocess.TimeoutExpired):
            return None
        if not (folder / name / "LC_CTYPE").exists():
            return None
    return {"LOCPATH": str(folder), "LC_ALL": name, "LANG": name}
