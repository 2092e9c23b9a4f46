"""Processes, their resource use, and the private desktop the benchmarks run them in."""

import os
import queue
import signal
import statistics
import subprocess
import tempfile
import threading
import time

import dbus

import local_ca
import price_server

PAGE_KIB = os.sysconf("SC_PAGE_SIZE") // 1024
TICK = os.sysconf("SC_CLK_TCK")


class Failure(RuntimeError):
    pass


def median(values):
    return statistics.median(values)


# ---------------------------------------------------------------- what /proc tells


def _status_fields(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            fields[key] = value.split()
    return fields


def memory(pid):
    """Peak and current resident set and private memory of one process, in KiB."""
    status = _status_fields(pid)
    private = dirty = 0
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        for line in rollup:
            key, _, value = line.partition(":")
            if key in ("Private_Clean", "Private_Dirty"):
                private += int(value.split()[0])
            if key == "Private_Dirty":
                dirty += int(value.split()[0])
    return {"peak": int(status["VmHWM"][0]), "rss": int(status["VmRSS"][0]),
            "private": private, "dirty": dirty}


def rss_by_file(pid):
    """{mapped file's name, or [anon] and the like: resident KiB} of one process."""
    found = {}
    with open(f"/proc/{pid}/smaps") as smaps:
        for line in smaps:
            fields = line.split()
            if not fields[0].endswith(":"):  # a mapping's first line
                name = os.path.basename(fields[5]) if len(fields) > 5 else "[anon]"
            elif fields[0] == "Rss:":
                found[name] = found.get(name, 0) + int(fields[1])
    return found


def descendants(pid):
    """`pid` and every process below it."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    parent = int(stat.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            children.setdefault(parent, []).append(int(entry))
    found, todo = [], [pid]
    while todo:
        current = todo.pop()
        found.append(current)
        todo.extend(children.get(current, []))
    return found


def tree_memory(pid):
    """The memory of a process and all below it, added up (KiB)."""
    total = {"peak": 0, "rss": 0, "private": 0, "dirty": 0}
    for member in descendants(pid):
        try:
            for key, value in memory(member).items():
                total[key] += value
        except OSError:
            pass
    return total


# What a library's file name says it is: the GUI stack the headless modes and the agent
# should never map.
GUI_LIBRARIES = (("Qt Gui", "libQt6Gui."), ("Widgets", "libQt6Widgets."), ("Svg", "libQt6Svg."),
                 ("X11/xcb", "libX11."), ("X11/xcb", "libxcb"), ("X11/xcb", "libQt6XcbQpa."),
                 ("X11/xcb", "libqxcb."), ("fontconfig", "libfontconfig."),
                 ("freetype", "libfreetype."))


def libraries(pid):
    """The file names of the shared libraries mapped into a process."""
    names = set()
    with open(f"/proc/{pid}/maps") as maps:
        for line in maps:
            fields = line.split(None, 5)
            name = os.path.basename(fields[5].strip()) if len(fields) == 6 else ""
            if ".so" in name:
                names.add(name)
    return names


def gui_libraries(pid):
    """(the kinds of GUI library mapped, in GUI_LIBRARIES' order; how many libraries in all)."""
    names = libraries(pid)
    kinds = []
    for kind, prefix in GUI_LIBRARIES:
        if kind not in kinds and any(name.startswith(prefix) for name in names):
            kinds.append(kind)
    return kinds, len(names)


def processes_of(program):
    """Live (not zombie) processes running the executable `program`."""
    found = []
    target = os.path.realpath(program)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.readlink(f"/proc/{entry}/exe") != target:
                continue
            with open(f"/proc/{entry}/stat") as stat:
                if stat.read().rsplit(")", 1)[1].split()[0] != "Z":
                    found.append(int(entry))
        except OSError:
            pass
    return found


def cpu_seconds(pid):
    """User and system time of a process so far, its ended threads included."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def process_cpu(pid):
    """CPU time of a whole process in seconds, to the nanosecond, ended threads included:
    the process's own CPU-time clock (what clock_getcpuclockid gives)."""
    return time.clock_gettime(((~pid) << 3) | 2)


def thread_switches(pid):
    """{thread id: voluntary context switches} of the live threads of a process."""
    counts = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            counts[int(tid)] = int(_status_fields(f"{pid}/task/{tid}")
                                   ["voluntary_ctxt_switches"][0])
        except (OSError, KeyError):
            pass
    return counts


def runtime_dir(home):
    """A private XDG_RUNTIME_DIR on memory-backed storage, as a desktop session has one."""
    base = "/dev/shm" if os.path.isdir("/dev/shm") else home
    path = tempfile.mkdtemp(dir=base, prefix="brimwell-bench-runtime-")
    os.chmod(path, 0o700)
    return path


# ---------------------------------------------------------------- processes


class Ended:
    """How a process ended: wall time, CPU time and wake-ups from wait4, which count its
    ended threads and reaped children too. Not its peak RSS: see peak_rss."""

    def __init__(self, status, usage, wall, output="", started=None):
        self.started = started
        self.status = os.waitstatus_to_exitcode(status)
        self.cpu = usage.ru_utime + usage.ru_stime
        self.wakeups = usage.ru_nvcsw
        self.wall = wall
        self.output = output


def run(argv, env=None):
    """Runs a command to its end, its stdout captured."""
    started = time.monotonic()
    start = time.perf_counter()
    process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    process.stdout.close()
    return Ended(status, usage, wall, output.decode(errors="replace"), started)


def peak_rss(argv, env=None):
    """The peak RSS of a command over its whole run (KiB), as GNU time reports it. wait4's
    ru_maxrss cannot serve: a child that subprocess starts with vfork takes this Python
    process's own high-water mark as its start, and that is larger than curl's peak."""
    ended = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
    if ended.returncode != 0:
        raise Failure(f"{argv[0]} failed while measuring its peak RSS")
    return int(ended.stderr.split()[-1])


class Running:
    """A started process whose stdout lines are collected as they come, each stamped with
    CLOCK_MONOTONIC (seconds)."""

    def __init__(self, argv, env=None, group=False, stdout=True):
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            argv, env=env, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE if stdout else subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=group)
        self.pid = self.process.pid
        self.lines = queue.Queue()
        self.group = group
        if stdout:
            threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put((time.monotonic(), raw.decode(errors="replace").rstrip("\n")))
        self.lines.put((time.monotonic(), None))

    def line(self, timeout=30):
        """(time, text) of the next line; raises when none comes in time or the output
        ended."""
        try:
            stamp, text = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise Failure(f"no output from {self.process.args[0]} in {timeout} s") from None
        if text is None:
            raise Failure(f"{self.process.args[0]} closed its output")
        return stamp, text

    def send(self, number):
        if self.group:
            os.killpg(self.pid, number)
        else:
            os.kill(self.pid, number)

    def finish(self, number=signal.SIGTERM, timeout=60):
        """Ends the process with a signal (or, with None, waits for it to end) and returns
        how it ended."""
        try:
            if number is not None:
                self.send(number)
        except ProcessLookupError:
            pass
        deadline = time.monotonic() + timeout
        while True:
            pid, status, usage = os.wait4(self.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                self.send(signal.SIGKILL)
                pid, status, usage = os.wait4(self.pid, 0)
                break
            time.sleep(0.01)
        self.process.returncode = os.waitstatus_to_exitcode(status)
        return Ended(status, usage, time.monotonic() - self.started)


def wait_until(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(0.002)


# ---------------------------------------------------------------- the local services


class Services:
    """The CA and local HTTPS price servers; each server counts its own requests."""

    def __init__(self, directory):
        self.ca, self.cert, self.key = local_ca.make(os.path.join(directory, "ca"),
                                                     price_server.HOSTS)
        self.servers = []

    def server(self):
        process, state = price_server.start(self.cert, self.key)
        self.servers.append(process)
        return state

    def close(self):
        for process in self.servers:
            process.terminate()
            process.join(5)


def connect_to(port, first_port=None):
    """--connect-to entries for the five hosts; the first may go to another port."""
    entries = []
    for index, host in enumerate(price_server.HOSTS):
        target = first_port if index == 0 and first_port else port
        entries.append(f"{host}:443:127.0.0.1:{target}")
    return entries


class Desktop:
    """A private session bus with a StatusNotifierWatcher on it, and an X server."""

    BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

    def __init__(self, directory, python):
        self.directory = directory
        config = os.path.join(directory, "bus.conf")
        with open(config, "w") as out:
            out.write(self.BUS_CONFIG.format(socket=os.path.join(directory, "bus")))
        self.bus = Running(["dbus-daemon", f"--config-file={config}", "--nofork",
                            "--print-address=1"])
        self.address = self.bus.line(10)[1]
        self.x = Running(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                          "1280x800x24"])
        self.display = ":" + self.x.line(20)[1]
        here = os.path.dirname(os.path.abspath(__file__))
        self.watcher = Running([python, os.path.join(here, "status_notifier_watcher.py")],
                               env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address))
        if not self.watcher.line(20)[1].startswith("ready"):
            raise Failure("the watcher did not start")
        self.events = []
        self.changed = threading.Condition()
        threading.Thread(target=self._collect, daemon=True).start()

    def _collect(self):
        while True:
            try:
                _, text = self.watcher.line(timeout=None)
            except Failure:
                return
            words = text.split(" ", 3)
            with self.changed:
                self.events.append(words)
                self.changed.notify_all()

    def session(self, home):
        """The environment of a program in this desktop session, with its own home."""
        runtime = runtime_dir(home)
        env = {k: v for k, v in os.environ.items()
               if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update(DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=self.address,
                   XDG_RUNTIME_DIR=runtime, HOME=home, LC_ALL="C.UTF-8",
                   XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_CACHE_HOME=os.path.join(home, "cache"))
        return env

    def labels_after(self, index, service=None):
        """Label events from event number `index` on: [(index, seconds, service, label)]."""
        with self.changed:
            found = []
            for number, words in enumerate(self.events[index:], start=index):
                if words[0] == "label" and (service is None or words[2] == service):
                    found.append((number, int(words[1]) / 1e9, words[2],
                                  words[3] if len(words) > 3 else ""))
            return found

    def registration_after(self, index):
        with self.changed:
            for words in self.events[index:]:
                if words[0] == "registered":
                    return words[2]
        return None

    def activate(self, service, x, y):
        """Calls Activate(x, y) on a status item, as a host does on a click; returns when
        the item has answered."""
        if not hasattr(self, "connection"):
            self.connection = dbus.bus.BusConnection(self.address)
        item = self.connection.get_object(service, "/StatusNotifierItem", introspect=False)
        item.Activate(x, y, dbus_interface="org.kde.StatusNotifierItem", timeout=10)

    def mark(self):
        with self.changed:
            return len(self.events)

    def wait(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                result = predicate()
                if result:
                    return result
                left = deadline - time.monotonic()
                if left <= 0:
                    raise Failure(f"timed out waiting for {what}")
                self.changed.wait(left)

    def close(self):
        for process in (self.watcher, self.x, self.bus):
            process.finish(timeout=5)
