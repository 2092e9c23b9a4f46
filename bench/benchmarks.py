"""Brimwell Ticker side by side with what users would run instead, measured in one run.

Run through bench/run, which installs what is needed and builds first:
    bench/run [--quick]
Prints the table and writes it into docs/benchmarks.md (between its table markers).
"""

import argparse
import datetime
import os
import platform
import shlex
import signal
import subprocess
import sys
import tempfile
import time

import harness
from harness import Failure, median
import price_server
import x_screen

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
MIB = 1024.0


class Row:
    def __init__(self, group, measure, ours, peer_name, peer, unit, target=None, met=None,
                 ratio=True):
        self.group, self.measure = group, measure
        self.ours, self.peer_name, self.peer, self.unit = ours, peer_name, peer, unit
        self.target, self.met = target, met
        self.ratio = (ours / peer if ratio and peer else None)


def number(value, unit):
    if value is None:
        return "–"
    if unit == "MiB":
        return f"{value:.1f} MiB"
    if unit == "ms":
        return f"{value:.1f} ms" if value < 100 else f"{value:.0f} ms"
    if unit == "Ir":
        return f"{value / 1e6:.2f} M"
    if unit == "/s":
        return f"{value:.0f}/s"
    if unit == "µs":
        return f"{value:.0f} µs"
    if isinstance(value, float):
        return f"{value:.1f}"
    return str(value)


class Bench:
    def __init__(self, options):
        self.options = options
        self.quick = options.quick
        self.ticker = os.path.abspath(options.ticker)
        # Where the build puts the GUI program, as when installed.
        self.panel = os.path.join(os.path.dirname(os.path.dirname(self.ticker)), "libexec",
                                  "brimwell-ticker", "brimwell-ticker-panel")
        self.gui_dlopen = os.path.abspath(options.gui_dlopen)
        self.gui_module = os.path.abspath(options.gui_module)
        self.bare_get = os.path.abspath(options.bare_get)
        self.python = options.python
        self.work = tempfile.mkdtemp(prefix="brimwell-bench-")
        self.services = harness.Services(self.work)
        self.ca = self.services.ca
        self.server = self.services.server()
        self.port = self.server.port.value
        self.refused = price_server.refusing_port()
        self.homes = 0
        self.rows = []

    # ------------------------------------------------------------ commands

    def home(self):
        self.homes += 1
        path = os.path.join(self.work, f"home{self.homes}")
        os.makedirs(os.path.join(path, "config"), exist_ok=True)
        return path

    def headless_env(self, home):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                            "DBUS_SESSION_BUS_ADDRESS")}
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), LC_ALL="C.UTF-8",
                   XDG_RUNTIME_DIR=harness.runtime_dir(home))
        return env

    def ticker_argv(self, *mode, port=None, first_port=None):
        argv = [self.ticker, *mode, "--cacert", self.ca]
        for entry in harness.connect_to(port or self.port, first_port):
            argv += ["--connect-to", entry]
        return argv

    def curl_argv(self, port=None):
        return ["curl", "-s", "--cacert", self.ca, "--connect-to",
                harness.connect_to(port or self.port)[0], price_server.URLS["mempool.space"]]

    def pipeline(self, port=None):
        """The status-bar script's command, as a bar runs it: through sh."""
        return shlex.join(self.curl_argv(port)) + " | jq -r '\"₿ \\(.USD | floor)\"'"

    def bare_argv(self, count, port=None):
        return [self.bare_get, price_server.URLS["mempool.space"], self.ca, str(count),
                harness.connect_to(port or self.port)[0]]

    def store_price(self, home):
        """Gives `home` a stored price the way the agent itself stores one."""
        ended = harness.run(self.ticker_argv("--once"), env=self.headless_env(home))
        if ended.status != 0:
            raise Failure("--once failed while storing a price")
        return ended.output.strip()

    # ------------------------------------------------------------ 1. one pass

    def one_pass(self):
        runs = 6 if self.quick else 30
        home = self.home()
        env = self.headless_env(home)
        # The same with its settings in memory, which shows what the disk flushes of the
        # price's store cost; and both programs' start and exit alone.
        in_memory = dict(env, XDG_CONFIG_HOME=harness.runtime_dir(home))
        subjects = {
            "ticker": lambda: harness.run(self.ticker_argv("--once"), env=env),
            "in memory": lambda: harness.run(self.ticker_argv("--once"), env=in_memory),
            "curl": lambda: harness.run(self.curl_argv()),
            "curl|jq": lambda: harness.run(["sh", "-c", self.pipeline()]),
            "version": lambda: harness.run([self.ticker, "--version"], env=env),
            "curl version": lambda: harness.run(["curl", "--version"]),
        }
        results = interleave(subjects, runs)
        for name, ended in results.items():
            if any(e.status != 0 for e in ended):
                raise Failure(f"{name} failed in the one-pass measurement")
        wall = {n: median([e.wall for e in r]) * 1000 for n, r in results.items()}
        cpu = {n: median([e.cpu for e in r]) * 1000 for n, r in results.items()}
        group = f"1. One pass, first provider answers (median of {runs}, interleaved)"
        self.rows += [
            Row(group, "wall time, `--once`", wall["ticker"], "`curl -s`", wall["curl"], "ms"),
            Row(group, "wall time, `--once`", wall["ticker"], "`curl -s | jq -r`",
                wall["curl|jq"], "ms", "at most 0.8× `curl | jq`",
                wall["ticker"] <= 0.8 * wall["curl|jq"]),
            Row(group, "wall time, `--once`, settings in memory (no disk flush)",
                wall["in memory"], "`curl -s | jq -r`", wall["curl|jq"], "ms"),
            Row(group, "wall time, `--version` (start and exit only)", wall["version"],
                "`curl --version`", wall["curl version"], "ms"),
            Row(group, "CPU time, `--once`", cpu["ticker"], "`curl -s`", cpu["curl"], "ms"),
            Row(group, "CPU time, `--once`", cpu["ticker"], "`curl -s | jq -r`",
                cpu["curl|jq"], "ms"),
        ]

    # ------------------------------------------------------------ 2. instructions

    def callgrind(self, argv, env=None, drive=None):
        """Total instructions of a run under callgrind, all threads together."""
        out = os.path.join(self.work, f"callgrind.{time.monotonic_ns()}")
        command = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                   "--dump-instr=no", *argv]
        if drive:
            running = harness.Running(command, env=env)
            drive(running)
            ended = running.finish(timeout=120)
        else:
            ended = harness.run(command, env=env)
        if ended.status != 0:
            raise Failure(f"{argv[0]} failed under callgrind ({ended.status})")
        with open(out) as profile:
            for line in profile:
                if line.startswith("summary:") or line.startswith("totals:"):
                    return int(line.split()[1])
        raise Failure("callgrind wrote no totals")

    def drive_bar(self, running, passes, timeout=60):
        """Lets a `--bar=plain --interval 3600` run make `passes` passes after its first,
        one SIGUSR1 each; every pass changes the price and so writes one line."""
        running.line(timeout)  # the pending title or the stored one
        running.line(timeout)  # the first pass
        for _ in range(passes):
            running.send(signal.SIGUSR1)
            running.line(timeout)

    def instructions(self):
        low, high = (2, 12) if self.quick else (10, 110)
        env = self.headless_env(self.home())
        bar = {}
        for count in (low, high):
            bar[count] = self.callgrind(
                self.ticker_argv("--bar=plain", "--interval", "3600"), env=env,
                drive=lambda running, n=count: self.drive_bar(running, n, timeout=120))
        bare = {count: self.callgrind(self.bare_argv(count + 1)) for count in (low, high)}
        per_pass = (bar[high] - bar[low]) / (high - low)
        per_get = (bare[high] - bare[low]) / (high - low)
        once_env = self.headless_env(self.home())
        once = self.callgrind(self.ticker_argv("--once"), env=once_env)
        failover = self.callgrind(self.ticker_argv("--once", first_port=self.refused),
                                  env=once_env)
        curl = self.callgrind(self.curl_argv())
        group = "2. Instructions under callgrind"
        self.rows += [
            Row(group, f"per pass inside `--bar` (passes {low + 1}→{high + 1}, divided)",
                per_pass, "bare libcurl GET (`bench/peers/bare_get.c`, same way)", per_get,
                "Ir", "within 1.5× of bare libcurl", per_pass <= 1.5 * per_get),
            Row(group, "whole `--once` process", once, "whole `curl -s` process", curl, "Ir"),
        ]
        self.failover_instructions = (failover, once)

    # ------------------------------------------------------------ 3. memory

    def in_flight(self, argv, env=None, sample=harness.tree_memory):
        """`sample` (the memory of the process tree by default) taken while the request
        waits for the answer."""
        before = self.server.requests()
        self.server.hold()
        try:
            running = harness.Running(argv, env=env, group=True)
            harness.wait_until(lambda: self.server.requests() > before, 30, "the request")
            time.sleep(0.05)
            taken = sample(running.pid)
        finally:
            self.server.let_go()
        running.finish(signal.SIGCONT)
        return taken

    def memory(self):
        runs = 3 if self.quick else 7
        passes = 20 if self.quick else 100
        env = self.headless_env(self.home())
        flight = {"ticker": [], "curl": [], "curl|jq": []}
        for _ in range(runs):
            flight["ticker"].append(self.in_flight(self.ticker_argv("--once"), env))
            flight["curl"].append(self.in_flight(self.curl_argv()))
            flight["curl|jq"].append(self.in_flight(["sh", "-c", self.pipeline()]))
        flying = {n: {k: median([s[k] for s in samples]) / MIB
                      for k in ("rss", "private", "dirty")}
                  for n, samples in flight.items()}
        peaks = interleave({"ticker": lambda: harness.peak_rss(self.ticker_argv("--once"), env),
                            "curl": lambda: harness.peak_rss(self.curl_argv())}, runs)
        once_peak = {n: median(kib) / MIB for n, kib in peaks.items()}

        # --bar after its passes, idle again, against the status-bar script between passes
        running = harness.Running(self.ticker_argv("--bar=plain", "--interval", "3600"),
                                  env=self.headless_env(self.home()))
        self.drive_bar(running, passes - 1)
        time.sleep(0.5)
        bar = harness.memory(running.pid)
        bar_files = harness.rss_by_file(running.pid)
        running.finish()
        curl_files = self.in_flight(self.curl_argv(), sample=harness.rss_by_file)
        top = sorted(bar_files, key=bar_files.get, reverse=True)[:12]
        print("resident KiB by file, --bar after its passes (curl -s in flight): " +
              ", ".join(f"{name} {bar_files[name]} ({curl_files.get(name, 0)})" for name in top),
              file=sys.stderr)
        script = harness.Running(["sh", "-c", f"while :; do {self.pipeline()}; sleep 3600; done"],
                                 group=True)
        script.line()
        time.sleep(0.5)
        loop = harness.tree_memory(script.pid)
        script.finish()

        group = "3. Memory"
        self.rows += [
            Row(group, "peak RSS, `--once`", once_peak["ticker"], "`curl -s`",
                once_peak["curl"], "MiB"),
            Row(group, "RSS in flight, `--once`", flying["ticker"]["rss"],
                "`curl -s | jq -r` (sh, curl, jq added up)", flying["curl|jq"]["rss"], "MiB"),
            Row(group, "private memory in flight, `--once`", flying["ticker"]["private"],
                "`curl -s | jq -r` (sh, curl, jq added up)", flying["curl|jq"]["private"],
                "MiB"),
            Row(group, "private dirty memory in flight, `--once`", flying["ticker"]["dirty"],
                "`curl -s | jq -r` (sh, curl, jq added up)", flying["curl|jq"]["dirty"],
                "MiB"),
            Row(group, f"peak RSS, `--bar` after {passes} passes", bar["peak"] / MIB,
                "status-bar script loop (sh + sleep, between passes)", loop["peak"] / MIB,
                "MiB"),
            Row(group, f"steady RSS, `--bar` after {passes} passes", bar["rss"] / MIB,
                "status-bar script loop (sh + sleep, between passes)", loop["rss"] / MIB,
                "MiB"),
            Row(group, f"steady RSS, `--bar` after {passes} passes", bar["rss"] / MIB,
                "peak RSS, `curl -s`", once_peak["curl"], "MiB",
                "below `curl -s`'s peak", bar["rss"] / MIB < once_peak["curl"]),
            Row(group, f"private memory, `--bar` after {passes} passes",
                bar["private"] / MIB, "status-bar script loop (sh + sleep, between passes)",
                loop["private"] / MIB, "MiB"),
            Row(group, f"private dirty memory, `--bar` after {passes} passes",
                bar["dirty"] / MIB, "status-bar script loop (sh + sleep, between passes)",
                loop["dirty"] / MIB, "MiB"),
        ]
        self.panel_memory(passes)

    def start_desktop(self):
        if not hasattr(self, "desktop"):
            self.desktop = harness.Desktop(self.work, self.python)
        return self.desktop

    def panel_argv(self, *extra, port=None, first_port=None):
        return self.ticker_argv(*extra, port=port, first_port=first_port)

    def tray_argv(self, home, interval, port=None):
        port = port or self.port
        return [self.python, os.path.join(HERE, "peers", "python_tray.py"),
                "--interval", str(interval), "--cacert", self.ca,
                "--cache", os.path.join(home, "tray-cache.json"),
                "--connect-to", f"mempool.space:443:127.0.0.1:{port}"]

    def start_item(self, argv, env, timeout=60):
        """Starts a panel program; returns it with its bus name once it registered."""
        desktop = self.start_desktop()
        mark = desktop.mark()
        running = harness.Running(argv, env=env, stdout=False)
        service = desktop.wait(lambda: desktop.registration_after(mark), timeout,
                               "a status item to register")
        return running, service, mark

    def drive_item(self, running, service, mark, passes, timeout=60):
        """SIGUSR1 `passes` times after the first pass, each time waiting for the label
        that the new price brings."""
        desktop = self.desktop
        # Prices shown so far; the pending title does not count.
        seen = lambda: len({label for _, _, _, label in desktop.labels_after(mark, service)
                            if label != "₿ ..."})
        desktop.wait(lambda: seen() >= 1, timeout, "the first pass's label")
        for _ in range(passes):
            count = seen()
            running.send(signal.SIGUSR1)
            desktop.wait(lambda: seen() > count, timeout, "a pass's label")

    def panel_memory(self, passes):
        desktop = self.start_desktop()
        results = {}
        for name in ("ticker", "tray"):
            home = self.home()
            env = desktop.session(home)
            argv = (self.panel_argv("--interval", "3600") if name == "ticker"
                    else self.tray_argv(home, 3600))
            running, service, mark = self.start_item(argv, env)
            self.drive_item(running, service, mark, passes - 1)
            time.sleep(0.5)
            results[name] = harness.memory(running.pid)
            running.finish()
        group = "3. Memory"
        peer = "Python tray app (`bench/peers/python_tray.py`)"
        for key, label in (("peak", "peak RSS"), ("rss", "steady RSS"),
                           ("private", "private memory"), ("dirty", "private dirty memory")):
            ours, theirs = results["ticker"][key] / MIB, results["tray"][key] / MIB
            target = {"rss": ("not above the Python app's", ours <= theirs),
                      "dirty": ("at most 6 MiB", ours <= 6)}.get(key, (None, None))
            self.rows.append(Row(group, f"{label}, panel agent after {passes} passes "
                                        "(popover never opened)", ours,
                                 peer, theirs, "MiB", *target))

    # ------------------------------------------------------------ 4. first title

    def first_title(self):
        runs = 5 if self.quick else 20
        home = self.home()
        env = self.headless_env(home)
        stored = self.store_price(home)

        def bar():
            running = harness.Running(
                self.ticker_argv("--bar=plain", "--interval", "3600", port=self.refused),
                env=env)
            stamp, text = running.line()
            running.finish()
            if text != stored:
                raise Failure(f"first bar line {text!r}, not the stored {stored!r}")
            return (stamp - running.started) * 1000

        def script():
            running = harness.Running(
                ["sh", "-c", f"while :; do {self.pipeline()}; sleep 3600; done"], group=True)
            stamp, _ = running.line()
            running.finish()
            return (stamp - running.started) * 1000

        times = interleave({"bar": bar, "script": script}, runs)

        desktop = self.start_desktop()
        panel_home, tray_home = self.home(), self.home()
        panel_stored = self.store_price(panel_home)
        with open(os.path.join(tray_home, "tray-cache.json"), "w") as cache:
            cache.write('{"usd": 67432.49}')

        def item(argv, env, expected):
            mark = desktop.mark()
            running = harness.Running(argv, env=env, stdout=False)
            found = desktop.wait(
                lambda: [e for e in desktop.labels_after(mark) if e[3] == expected], 60,
                f"the label {expected!r}")
            running.finish()
            return (found[0][1] - running.started) * 1000

        panel_env = desktop.session(panel_home)
        tray_env = desktop.session(tray_home)
        panel_runs = 5 if self.quick else 15
        items = interleave({
            "panel": lambda: item(self.panel_argv("--interval", "3600", port=self.refused),
                                  panel_env, panel_stored),
            "tray": lambda: item(self.tray_argv(tray_home, 3600, port=self.refused),
                                 tray_env, "₿ 67,432"),
        }, panel_runs)
        group = "4. Start to first title with a stored price, no network answer (median)"
        ours_bar, ours_panel = median(times["bar"]), median(items["panel"])
        self.rows += [
            Row(group, "`--bar=plain`, first line", ours_bar,
                "status-bar script's first line (it stores nothing: needs a fetch)",
                median(times["script"]), "ms", "under 50 ms", ours_bar < 50),
            Row(group, "panel agent, first `XAyatanaLabel` on the bus", ours_panel,
                "Python tray app, label from its cache file", median(items["tray"]), "ms",
                "under 200 ms", ours_panel < 200),
        ]

    # ------------------------------------------------------------ 5. idle

    def idle(self):
        window = 30 if self.quick else 120
        interval = 15 if self.quick else 60
        desktop = self.start_desktop()

        def subjects():
            made = {}
            for name in ("panel", "tray", "bar", "script"):
                server = self.services.server()
                home = self.home()
                port = server.port.value
                if name == "panel":
                    argv, env = self.panel_argv(port=port), desktop.session(home)
                elif name == "tray":
                    argv, env = self.tray_argv(home, interval, port), desktop.session(home)
                elif name == "bar":
                    argv, env = self.ticker_argv("--bar=plain", port=port), \
                        self.headless_env(home)
                else:
                    argv = ["sh", "-c", f"while :; do {self.pipeline(port)}; "
                                        f"sleep {interval}; done"]
                    env = None
                if name in ("panel", "bar") and interval != 60:
                    directory = os.path.join(home, "config", "brimwell-ticker")
                    os.makedirs(directory, exist_ok=True)
                    with open(os.path.join(directory, "brimwell-ticker.conf"), "w") as conf:
                        conf.write(f"[General]\nBrimwellTicker.UpdateInterval={interval}\n")
                made[name] = (argv, env, server)
            return made

        def start_all(made):
            started = {}
            for name, (argv, env, server) in made.items():
                started[name] = harness.Running(argv, env=env, group=(name == "script"),
                                                stdout=(name in ("bar", "script")))
            for name, (_, _, server) in made.items():
                harness.wait_until(lambda: server.requests() >= 1, 60, f"{name}'s first pass")
            time.sleep(2)
            return started

        # A short life and a long one: the difference is the window, start and end cancel.
        short_made = subjects()
        short = start_all(short_made)
        short_live = {name: sum(harness.thread_switches(short[name].pid).values())
                      for name in short if name != "script"}
        short_ended = {name: running.finish() for name, running in short.items()}
        short_passes = {name: made[2].requests() for name, made in short_made.items()}

        long_made = subjects()
        long = start_all(long_made)
        begin = time.monotonic()
        timeline = {name: [] for name in long if name != "script"}
        cpu_before = {name: harness.process_cpu(long[name].pid) for name in timeline}
        while time.monotonic() - begin < window:
            now = time.monotonic()
            for name in timeline:
                timeline[name].append((now, harness.thread_switches(long[name].pid)))
            time.sleep(0.2)
        cpu_after = {name: harness.process_cpu(long[name].pid) for name in timeline}
        long_live = {name: sum(harness.thread_switches(long[name].pid).values())
                     for name in timeline}
        long_ended = {name: running.finish() for name, running in long.items()}
        long_passes = {name: made[2].requests() for name, made in long_made.items()}
        request_times = {name: made[2].request_times() for name, made in long_made.items()}

        group = f"5. Idle: {window} s at the default interval ({interval} s), popover closed"
        figures = {}
        for name in long:
            # The programs' own CPU clocks over the window; the script's children are
            # only counted once reaped, so its CPU comes from the two lives too.
            cpu = (cpu_after[name] - cpu_before[name] if name in cpu_before
                   else long_ended[name].cpu - short_ended[name].cpu)
            if name in timeline:
                # Live threads are read directly; what ended threads and the exit add is
                # what wait4 counts beyond the live threads, less the same for the short
                # life.
                live = long_live[name] - sum(timeline[name][0][1].values())
                ended = ((long_ended[name].wakeups - long_live[name]) -
                         (short_ended[name].wakeups - short_live[name]))
                wakeups = live + max(0, ended)
            else:
                wakeups = long_ended[name].wakeups - short_ended[name].wakeups
            figures[name] = {
                "cpu": cpu * 1000,
                "wakeups": wakeups,
                "passes": long_passes[name] - short_passes[name],
            }
        quiet = {name: between_passes(timeline[name], request_times[name])
                 for name in timeline}
        self.idle_detail = (figures, quiet)
        pairs = (("panel agent", "panel", "Python tray app", "tray"),
                 ("`--bar`", "bar", "status-bar script loop", "script"))
        for ours_name, ours, peer_name, peer in pairs:
            a, b = figures[ours], figures[peer]
            self.rows += [
                Row(group, f"CPU time, {ours_name} ({a['passes']} passes)", a["cpu"],
                    f"{peer_name} ({b['passes']} passes)", b["cpu"], "ms"),
                Row(group, f"wake-ups, {ours_name}", a["wakeups"], peer_name, b["wakeups"],
                    ""),
            ]
            if peer in quiet:
                wakes, ends = quiet[ours]
                peer_wakes, peer_ends = quiet[peer]
                self.rows.append(Row(
                    group, f"wake-ups between passes (+ threads ended), {ours_name}",
                    f"{wakes} (+{ends})", peer_name, f"{peer_wakes} (+{peer_ends})", "",
                    "none beyond the timer", wakes + ends == 0, ratio=False))
            else:
                wakes, ends = quiet[ours]
                self.rows.append(Row(
                    group, f"wake-ups between passes (+ threads ended), {ours_name}",
                    f"{wakes} (+{ends})", peer_name, None, "", "none beyond the timer",
                    wakes + ends == 0, ratio=False))

    # ------------------------------------------------------------ 6. failover

    def failover(self):
        runs = 6 if self.quick else 40
        # Settings in memory: a disk flush varies by tens of milliseconds from one pass to
        # the next and would drown what the failover adds.
        home = self.home()
        env = self.headless_env(home)
        env["XDG_CONFIG_HOME"] = harness.runtime_dir(home)
        server = self.services.server()

        def once(first_port):
            before = server.requests()
            ended = harness.run(self.ticker_argv("--once", port=server.port.value,
                                                 first_port=first_port), env=env)
            if ended.status != 0:
                raise Failure("--once failed in the failover measurement")
            # From the start to the request that is answered.
            ended.answered = (server.request_times(before)[0] - ended.started) * 1000
            return ended

        results = interleave({"first": lambda: once(None),
                              "second": lambda: once(self.refused)}, runs)
        pairs = list(zip(results["first"], results["second"]))
        wall = {n: median([e.wall for e in r]) * 1000 for n, r in results.items()}
        answered = {n: median([e.answered for e in r]) for n, r in results.items()}
        cpu = {n: median([e.cpu for e in r]) * 1000 for n, r in results.items()}
        # Each refused pass ran next to an answered one: the median of those differences.
        added_wall = median([b.wall - a.wall for a, b in pairs]) * 1000
        added = median([b.answered - a.answered for a, b in pairs])
        failover, once_ir = self.failover_instructions
        group = f"6. Failover: first provider refuses, second answers (median of {runs})"
        self.rows += [
            Row(group, "start to the answered request, refused then answered",
                answered["second"], "first answers", answered["first"], "ms"),
            Row(group, "added time to the answered request (paired differences)", added, "",
                None, "ms", "under 5 ms", added < 5, ratio=False),
            Row(group, "wall time, `--once`, refused then answered", wall["second"],
                "`--once`, first answers", wall["first"], "ms"),
            Row(group, "added wall time (paired differences)", added_wall, "", None, "ms",
                ratio=False),
            Row(group, "CPU time, `--once`, refused then answered", cpu["second"],
                "`--once`, first answers", cpu["first"], "ms"),
            Row(group, "instructions, `--once`, refused then answered", failover,
                "`--once`, first answers", once_ir, "Ir"),
            Row(group, "added instructions", failover - once_ir, "", None, "Ir", ratio=False),
        ]

    # ------------------------------------------------------------ 7. scale

    def scale(self):
        marks = [10, 100, 1000] if self.quick else [100, 1000, 10000]
        total = marks[-1]
        server = self.services.server()
        port = server.port.value

        def follow(running, first_lines):
            for _ in range(first_lines):
                running.line()
            points = []
            done = 0
            while done < total:
                running.line(60)
                done += 1
                if done in marks:
                    points.append((done, time.monotonic(), harness.cpu_seconds(running.pid),
                                   harness.memory(running.pid)["rss"]))
            return points

        ours = harness.Running(self.ticker_argv("--bar=plain", "--interval", "0", port=port),
                               env=self.headless_env(self.home()))
        ticker_points = follow(ours, 1)  # the pending title comes first
        ours.finish()
        bare = harness.Running(self.bare_argv(total + 10, port))
        bare_points = follow(bare, 0)
        bare.finish()

        group = "7. Scale: interval 0 against the local server"
        rate = lambda p: (p[-1][0] - p[0][0]) / (p[-1][1] - p[0][1])
        self.rows.append(Row(group, f"passes per second ({marks[0]}→{total})",
                             rate(ticker_points), "bare libcurl GETs per second",
                             rate(bare_points), "/s"))
        # (passes, time, CPU seconds, RSS) at each mark, from the start
        start = (0, None, 0.0, None)
        for ours_from, ours_to, peer_from, peer_to in zip([start] + ticker_points, ticker_points,
                                                          [start] + bare_points, bare_points):
            count = ours_to[0] - ours_from[0]
            self.rows.append(Row(
                group, f"CPU per pass, passes {ours_from[0] + 1}→{ours_to[0]}",
                (ours_to[2] - ours_from[2]) / count * 1e6, "bare libcurl, per GET",
                (peer_to[2] - peer_from[2]) / count * 1e6, "µs"))
        first_cpu = ticker_points[0][2] / ticker_points[0][0]
        last_cpu = ((ticker_points[-1][2] - ticker_points[-2][2]) /
                    (ticker_points[-1][0] - ticker_points[-2][0]))
        flat = last_cpu <= first_cpu * 1.25
        self.rows.append(Row(group, f"RSS after {total} passes (after {marks[0]})",
                             ticker_points[-1][3] / MIB, f"after {marks[0]}",
                             ticker_points[0][3] / MIB, "MiB",
                             "CPU per pass stays flat", flat))

    # ------------------------------------------------------------ 8. popover

    def open_popover(self, screen, service, at=(1000, 24)):
        """Activates the item as a host does on a click and waits for the popover window:
        (seconds to it mapped, seconds to its content drawn, window) from the call."""
        before = screen.snapshot()
        screen.flush_events()
        start = time.monotonic()
        self.desktop.activate(service, *at)
        mapped, window = screen.wait_popup()
        drawn = screen.wait_drawn(window, screen.under(window, before))
        if drawn is None:
            raise Failure("the popover went before it was drawn")
        return mapped - start, drawn - start, window

    def close_popover(self, screen, service, window):
        """Activates the item again, which closes the popover; waits for the window to go,
        for the GUI process to end (5 s at most) and for the agent's guard against a double
        click (300 ms) to pass."""
        self.desktop.activate(service, 1000, 24)
        screen.wait_gone(window)
        deadline = time.monotonic() + 5
        while harness.processes_of(self.panel) and time.monotonic() < deadline:
            time.sleep(0.005)
        time.sleep(0.4)

    def popover(self):
        runs = 5 if self.quick else 20
        passes = 20 if self.quick else 100
        desktop = self.start_desktop()
        screen = x_screen.Screen(desktop.display)
        running, service, mark = self.start_item(self.panel_argv("--interval", "3600"),
                                                  desktop.session(self.home()))
        self.drive_item(running, service, mark, passes - 1)
        time.sleep(0.5)
        before = harness.memory(running.pid)

        mapped, drawn, window = self.open_popover(screen, service)
        time.sleep(0.3)
        gui = harness.processes_of(self.panel)
        if len(gui) != 1:
            raise Failure(f"{len(gui)} brimwell-ticker-panel processes while shown")
        shown = {"agent": harness.memory(running.pid), "gui": harness.memory(gui[0])}
        self.gui_maps = harness.gui_libraries(gui[0])
        self.close_popover(screen, service, window)
        time.sleep(0.5)
        after_one = harness.memory(running.pid)
        # Any child of the agent (a zombie too) and any GUI process anywhere.
        left = len(set(harness.descendants(running.pid)[1:]) |
                   set(harness.processes_of(self.panel)))

        times = [(mapped, drawn)]
        for _ in range(runs - 1):
            mapped, drawn, window = self.open_popover(screen, service)
            times.append((mapped, drawn))
            self.close_popover(screen, service, window)
        time.sleep(0.5)
        after_all = harness.memory(running.pid)
        running.finish()
        screen.close()

        drawn_all = sorted(d * 1000 for _, d in times)
        print(f"popover drawn after Activate: {drawn_all[0]:.0f} to {drawn_all[-1]:.0f} ms, "
              f"first {times[0][1] * 1000:.0f} ms", file=sys.stderr)
        self.popover_figures = {"before": before, "shown": shown, "after": after_one,
                                "drawn": median(drawn_all)}
        group = (f"8. Popover: `brimwell-ticker-panel` started on `Activate` "
                 f"(Xvfb, median of {runs})")
        same = "the same agent before"
        self.rows += [
            Row(group, "`Activate` to the popover window mapped",
                median([m for m, _ in times]) * 1000, "", None, "ms", ratio=False),
            Row(group, "`Activate` to the popover mapped and drawn", median(drawn_all), "",
                None, "ms", "under 200 ms", median(drawn_all) < 200, ratio=False),
            Row(group, "steady RSS, panel agent after one popover closed",
                after_one["rss"] / MIB, same, before["rss"] / MIB, "MiB"),
            Row(group, "private dirty memory, panel agent after one popover closed",
                after_one["dirty"] / MIB, same, before["dirty"] / MIB, "MiB"),
            Row(group, "processes left after it closed (GUI ones, the agent's children)", left, "",
                None, "", "none", left == 0, ratio=False),
            Row(group, f"steady RSS, panel agent after {runs} popovers closed",
                after_all["rss"] / MIB, same, before["rss"] / MIB, "MiB"),
            Row(group, "RSS of `brimwell-ticker-panel` while shown",
                shown["gui"]["rss"] / MIB, "", None, "MiB", ratio=False),
            Row(group, "private dirty memory of `brimwell-ticker-panel` while shown",
                shown["gui"]["dirty"] / MIB, "", None, "MiB", ratio=False),
        ]

    # ------------------------------------------------------------ 9. GUI libraries

    def gui_libraries(self):
        desktop = self.start_desktop()
        # In the desktop session, as a bar there runs; no agent runs on its bus now, so
        # it polls on its own.
        bar = harness.Running(self.ticker_argv("--bar=plain", "--interval", "3600"),
                              env=desktop.session(self.home()))
        self.drive_bar(bar, 1)
        maps = {"bar": harness.gui_libraries(bar.pid)}
        bar.finish()
        maps["once"] = self.in_flight(self.ticker_argv("--once"), desktop.session(self.home()),
                                      sample=harness.gui_libraries)
        agent, service, mark = self.start_item(self.panel_argv("--interval", "3600"),
                                               desktop.session(self.home()))
        self.drive_item(agent, service, mark, 0)
        maps["agent"] = harness.gui_libraries(agent.pid)
        agent.finish()

        def listed(found):
            kinds, count = found
            return f"{', '.join(kinds) or 'none'} (of {count} libraries)"

        group = ("9. GUI libraries mapped (Qt Gui, Widgets, Svg, X11/xcb, fontconfig, "
                 "freetype; `/proc/PID/maps`)")
        for name, measure in (("bar", "`--bar`, after its first pass"),
                              ("once", "`--once`, in flight"),
                              ("agent", "panel agent before the first `Activate`")):
            self.rows.append(Row(group, measure, listed(maps[name]), "", None, "", "none",
                                 not maps[name][0], ratio=False))
        if hasattr(self, "gui_maps"):
            self.rows.append(Row(group, "`brimwell-ticker-panel` while shown (section 8)",
                                 listed(self.gui_maps), "", None, "", ratio=False))

    # ------------------------------------------------------------ 10. GUI candidates

    def gui_candidates(self):
        """The GUI in a process of its own (built) against a GUI module that the agent
        would dlopen (not built; bench/peers/gui_dlopen.cpp stands in for it)."""
        runs = 3 if self.quick else 10
        desktop = self.start_desktop()
        screen = x_screen.Screen(desktop.display)
        figures = []
        for _ in range(runs):
            before = screen.snapshot()
            screen.flush_events()
            running = harness.Running([self.gui_dlopen, self.gui_module, "1000", "24"],
                                      env=desktop.session(self.home()))
            _, window = screen.wait_popup()
            drawn = screen.wait_drawn(window, screen.under(window, before))
            steps = {}
            while len(steps) < 6:
                words = running.line()[1].split()
                steps[words[0]] = (int(words[1]) / 1e9, int(words[2]), int(words[3]))
            if running.finish(None, timeout=10).status != 0:
                raise Failure("gui_dlopen failed")
            start = steps["before"]
            figures.append({
                "load": steps["loaded"][0] - start[0],
                "drawn": drawn - start[0],
                **{f"{key}_{step}": (steps[step][index] - start[index]) / MIB
                   for step in ("loaded", "shown", "unloaded")
                   for index, key in ((1, "rss"), (2, "dirty"))},
            })
        screen.close()
        dl = {key: median([f[key] for f in figures]) for key in figures[0]}
        ours = self.popover_figures
        agent = lambda moment, key: (ours[moment][key] - ours["before"][key]) / MIB
        shown_agent = ours["shown"]["agent"]

        group = ("10. The GUI out of the resident process: a process started on `Activate` "
                 f"(built, section 8) against a module loaded with `dlopen` (not built; "
                 f"median of {runs})")
        peer = "`dlopen` module (`bench/peers/gui_dlopen.cpp`)"
        self.rows += [
            Row(group, "first popup mapped and drawn (from `Activate` / from `dlopen`)",
                ours["drawn"], peer, dl["drawn"] * 1000, "ms"),
            Row(group, "of that, `dlopen` of Qt Widgets and Gui", None, "`dlopen`",
                dl["load"] * 1000, "ms", ratio=False),
            Row(group, "of that, RSS added by `dlopen` alone", None, "`dlopen`",
                dl["rss_loaded"], "MiB", ratio=False),
            Row(group, "RSS added to the resident process while shown",
                (shown_agent["rss"] - ours["before"]["rss"]) / MIB, peer, dl["rss_shown"],
                "MiB", ratio=False),
            Row(group, "RSS of the GUI while shown, all processes",
                (shown_agent["rss"] - ours["before"]["rss"]) / MIB +
                ours["shown"]["gui"]["rss"] / MIB, peer, dl["rss_shown"], "MiB"),
            Row(group, "RSS left in the resident process after closing", agent("after", "rss"),
                f"{peer}, after `dlclose`", dl["rss_unloaded"], "MiB", ratio=False),
            Row(group, "private dirty memory left in the resident process after closing",
                agent("after", "dirty"), f"{peer}, after `dlclose`", dl["dirty_unloaded"],
                "MiB", ratio=False),
        ]

    # ------------------------------------------------------------ the report

    def close(self):
        if hasattr(self, "desktop"):
            self.desktop.close()
        self.services.close()


def interleave(subjects, runs):
    """Runs each subject `runs` times, taking turns, the order rotating each round."""
    names = list(subjects)
    results = {name: [] for name in names}
    for round_number in range(runs):
        shift = round_number % len(names)
        for name in names[shift:] + names[:shift]:
            results[name].append(subjects[name]())
    return results


def between_passes(timeline, request_times):
    """Wake-ups while no pass ran (from 1.5 s before a request to 2 s after it counts as
    the pass), and threads that ended in such a stretch (each woke at least once to end)."""
    def busy(start, end):
        return any(start - 2.0 <= t <= end + 1.5 for t in request_times)

    wakes, ended = 0, 0
    for (t0, before), (t1, after) in zip(timeline, timeline[1:]):
        if busy(t0, t1):
            continue
        for tid, count in after.items():
            wakes += count - before.get(tid, 0)
        ended += len(set(before) - set(after))
    return wakes, ended


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as meminfo:
        memory_kib = int(meminfo.readline().split()[1])
    distribution = "unknown"
    try:
        with open("/etc/os-release") as release:
            for line in release:
                if line.startswith("PRETTY_NAME="):
                    distribution = line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass

    def version(argv, words=2):
        try:
            text = subprocess.run(argv, capture_output=True, text=True).stdout
            return " ".join(text.split()[:words])
        except OSError:
            return "?"

    qt = subprocess.run(["pkg-config", "--modversion", "Qt6Core"], capture_output=True,
                        text=True).stdout.strip()
    return {
        "CPU": f"{model}, {os.cpu_count()} cores",
        "memory": f"{memory_kib / 1024 / 1024:.0f} GiB",
        "kernel": platform.release(),
        "system": distribution,
        "software": f"Qt {qt}, {version(['curl', '--version'])} (OpenSSL 3), "
                    f"{version(['jq', '--version'], 1)}, Python {platform.python_version()}, "
                    f"{version(['valgrind', '--version'], 1)}",
    }


def load():
    with open("/proc/loadavg") as loadavg:
        return " ".join(loadavg.read().split()[:3])


def render(rows, info, started, finished, load_before, load_after, command):
    lines = [
        f"Measured {started:%Y-%m-%d %H:%M} UTC with `{command}` "
        f"({(finished - started).seconds // 60} min).",
        "",
        "| machine | |",
        "|---|---|",
    ]
    for key, value in info.items():
        lines.append(f"| {key} | {value} |")
    lines.append(f"| load average (1, 5, 15 min) | {load_before} before, {load_after} after |")
    lines += ["", "| measure | Brimwell Ticker | peer | peer's figure | ratio | target | met |",
              "|---|---:|---|---:|---:|---|:-:|"]
    group = None
    for row in rows:
        if row.group != group:
            group = row.group
            lines.append(f"| **{group}** | | | | | | |")
        ratio = f"{row.ratio:.2f}×" if row.ratio is not None else ""
        met = "" if row.met is None else ("yes" if row.met else "**no**")
        cells = [row.measure, number(row.ours, row.unit), row.peer_name,
                 number(row.peer, row.unit) if row.peer_name else "", ratio, row.target or "",
                 met]
        lines.append("| " + " | ".join(cell.replace("|", "\\|") for cell in cells) + " |")
    return "\n".join(lines) + "\n"


BEGIN = "<!-- table: written by bench/run -->"
END = "<!-- end of table -->"


def write_doc(path, table):
    try:
        with open(path) as doc:
            text = doc.read()
    except FileNotFoundError:
        text = f"# Benchmarks\n\n{BEGIN}\n{END}\n"
    if BEGIN not in text or END not in text:
        text += f"\n{BEGIN}\n{END}\n"
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    with open(path, "w") as doc:
        doc.write(f"{head}{BEGIN}\n{table}{END}{tail}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ticker", required=True)
    parser.add_argument("--bare-get", required=True)
    parser.add_argument("--gui-dlopen", required=True)
    parser.add_argument("--gui-module", required=True)
    parser.add_argument("--python", default="/usr/bin/python3")
    parser.add_argument("--quick", action="store_true",
                        help="fewer runs and passes and a short idle window: a trial, not "
                             "figures to keep")
    parser.add_argument("--only", help="comma-separated measurements to run (1-10)")
    parser.add_argument("--doc", default=os.path.join(ROOT, "docs", "benchmarks.md"))
    options = parser.parse_args()

    started = datetime.datetime.now(datetime.timezone.utc)
    load_before = load()
    bench = Bench(options)
    steps = [("1", bench.one_pass), ("2", bench.instructions), ("3", bench.memory),
             ("4", bench.first_title), ("5", bench.idle), ("6", bench.failover),
             ("7", bench.scale), ("8", bench.popover), ("9", bench.gui_libraries),
             ("10", bench.gui_candidates)]
    chosen = set(options.only.split(",")) if options.only else {key for key, _ in steps}
    if "6" in chosen:
        chosen.add("2")  # the failover's instructions come from there
    if "10" in chosen:
        chosen.add("8")  # the process candidate's figures come from there
    try:
        for key, step in steps:
            if key in chosen:
                print(f"measuring {key} ...", file=sys.stderr, flush=True)
                step()
    finally:
        bench.close()
    finished = datetime.datetime.now(datetime.timezone.utc)
    command = "bench/run" + (" --quick" if options.quick else "")
    table = render(bench.rows, machine(), started, finished, load_before, load(), command)
    print(table)
    if not options.quick and not options.only:
        write_doc(options.doc, table)
        print(f"written to {os.path.relpath(options.doc, ROOT)}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
