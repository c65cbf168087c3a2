#!/usr/bin/env python3
"""kaviod over loopback: what lab tools send, what each unit receives, and what is refused."""

import concurrent.futures
import datetime
import json
import resource
import os
import shutil
import signal
import socket
import sqlite3
import stat
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

KAVIOD = os.environ["KAVIOD"]
KAVIOCTL = os.environ["KAVIOCTL"]
KAVIOSIM = os.environ["KAVIOSIM"]
KAVIOCC = os.environ["KAVIOCC"]

SCHEMA = """
CREATE TABLE "Master" ("Index" INTEGER PRIMARY KEY AUTOINCREMENT, "Name" TEXT, "IPAddress" TEXT,
  "Port" INTEGER, "Password" TEXT, "Group" INTEGER NOT NULL DEFAULT 0,
  "Timer" INTEGER NOT NULL DEFAULT 0, "Status" INTEGER NOT NULL DEFAULT 3,
  "Checked" INTEGER NOT NULL DEFAULT 0);
CREATE TABLE "Group" ("GroupIndex" INTEGER NOT NULL, "Index" INTEGER NOT NULL);
"""


def private_environment(home):
    """The environment with the settings, data and runtime folders of its own under home."""
    env = dict(os.environ)
    for name in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"):
        path = os.path.join(home, name.lower())
        os.makedirs(path, mode=0o700)
        env[name] = path
    return env


class LoopbackUnit:
    """A unit on a loopback address; each connection is handed to handle() in turn."""

    def __init__(self, address):
        self.frames = []
        self.server = socket.create_server((address, 0))
        self.port = self.server.getsockname()[1]
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                connection, _ = self.server.accept()
            except OSError:
                return
            self.handle(connection)


# The answer of a unit that switches as it is told: ON until an off, ON again after an on, and
# its state to every other command.
SWITCHES = "switches"


class RecordingUnit(LoopbackUnit):
    """Keeps every byte it receives and answers a word (or its state, with SWITCHES)."""

    def __init__(self, address, answer=b"ON", delay=0.0):
        self.answer, self.delay, self.state = answer, delay, b"ON"
        super().__init__(address)

    def reply_to(self, frame):
        if self.answer != SWITCHES:
            return self.answer
        letter = frame[-2:-1]
        if letter in (b"f", b"n"):
            self.state = b"OFF" if letter == b"f" else b"ON"
        return self.state

    def handle(self, connection):
        with connection:
            connection.settimeout(1)
            frame = b""
            try:
                while not frame.endswith(b"\r"):
                    chunk = connection.recv(64)
                    if not chunk:
                        break
                    frame += chunk
                time.sleep(self.delay)
                self.frames.append(frame)
                connection.sendall(self.reply_to(frame))
            except OSError:
                self.frames.append(frame)

    def wait_frames(self, count, timeout=5.0):
        deadline = time.monotonic() + timeout
        while len(self.frames) < count and time.monotonic() < deadline:
            time.sleep(0.01)
        return list(self.frames)


class SilentUnit(LoopbackUnit):
    """Accepts, reads and never answers."""

    def __init__(self, address):
        self.connections = []
        super().__init__(address)

    def handle(self, connection):
        self.connections.append(connection)
        connection.settimeout(2)
        try:
            self.frames.append(connection.recv(64))
        except OSError:
            pass


class Service:
    """kaviod on its own database, settings and runtime folder."""

    def __init__(self, home, database, *arguments, env=None):
        self.stderr_path = os.path.join(home, "kaviod-%d.err" % time.monotonic_ns())
        self.stderr = open(self.stderr_path, "wb")
        self.process = subprocess.Popen([KAVIOD, "--database", database, *arguments],
                                        stderr=self.stderr, env=env)
        self.port = None

    def log(self):
        with open(self.stderr_path, "rb") as handle:
            return handle.read().decode("utf-8", "replace")

    def wait_for(self, text, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.log():
                return True
            if self.process.poll() is not None:
                return text in self.log()
            time.sleep(0.02)
        return False

    def http_port(self):
        assert self.wait_for("HTTP on 127.0.0.1:"), self.log()
        line = [l for l in self.log().splitlines() if "HTTP on 127.0.0.1:" in l][0]
        return int(line.rsplit(":", 1)[1])

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(10)
        self.stderr.close()


class KaviodTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="kaviod-test-")
        cls.env = private_environment(cls.home)
        os.environ.update({k: cls.env[k] for k in ("XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                                   "XDG_RUNTIME_DIR")})
        cls.unit_a = RecordingUnit("127.0.0.2", b"ON")
        cls.unit_b = RecordingUnit("127.0.0.3", b"OFF")
        cls.unit_c = RecordingUnit("127.0.0.5", b"on\r\n")
        cls.sim = subprocess.Popen([KAVIOSIM, "--count", "1", "--base-port", "0"],
                                   stdout=subprocess.PIPE, env=cls.env)
        cls.sim_port = int(cls.sim.stdout.readline().split(b":")[-1])
        cls.database = os.path.join(cls.home, "units.db")
        with sqlite3.connect(cls.database) as db:
            db.executescript(SCHEMA)
            db.executemany('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                           "VALUES (?, ?, ?, ?)",
                           [("pdu-a", "127.0.0.2", cls.unit_a.port, "s3cret"),
                            ("rack b/ü", "127.0.0.3", cls.unit_b.port, ""),
                            ("sim", "127.0.0.1", cls.sim_port, "pw"),
                            ("mute", "127.0.0.5", cls.unit_c.port, "x")])
            db.execute('INSERT INTO "Master" ("Name", "Group") VALUES (\'lab\', 1)')
            db.executemany('INSERT INTO "Group" VALUES (5, ?)', [(1,), (2,)])
        cls.service = Service(cls.home, cls.database, "--http", "127.0.0.1:0", env=cls.env)
        cls.port = cls.service.http_port()
        cls.base = "http://127.0.0.1:%d" % cls.port
        # The first poll queries every unit once; the tests count from after it.
        cls.unit_a.wait_frames(1)
        cls.unit_b.wait_frames(1)
        time.sleep(0.5)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.sim.terminate()
        cls.sim.wait(5)
        shutil.rmtree(cls.home, ignore_errors=True)

    def request(self, method, path, body=None, headers=None, base=None):
        req = urllib.request.Request((base or self.base) + path, data=body, method=method,
                                     headers=headers or {})
        try:
            with urllib.request.urlopen(req, timeout=10) as answer:
                return answer.status, answer.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def curl(self, *arguments):
        result = subprocess.run(["curl", "-s", "-w", "\n%{http_code}", *arguments],
                                capture_output=True, check=True, timeout=15)
        body, _, code = result.stdout.rpartition(b"\n")
        return int(code), body

    def test_lab_tool_requests_reach_the_unit_byte_for_byte(self):
        # (what a tool sends, expected answer, unit, the frame it must receive)
        cases = [
            ("GET", "/power/control/on?hostname=pdu-a&port=1&delay=0", None, 200, b"OK",
             "unit_a", b"\x1bs3cret\x1bn\r"),
            ("GET", "/power/control/off?hostname=127.0.0.3&port=1", None, 200, b"OK",
             "unit_b", b"\x1b\x1bf\r"),
            ("GET", "/power/control/off?alias=pdu-a", None, 502,
             b"FAILED: pdu-a answered 'ON'\n", "unit_a", b"\x1bs3cret\x1bf\r"),
            ("PUT", "/api/v1/units/pdu-a/value", b"1", 200, b"", "unit_a", b"\x1bs3cret\x1bn\r"),
            ("PUT", "/api/v1/units/rack%20b%2F%C3%BC/value", b"0\n", 200, b"",
             "unit_b", b"\x1b\x1bf\r"),
            ("PUT", "/api/v1/units/mute/value", b"1", 502,
             b"FAILED: mute answered 'on\\x0d\\x0a'\n",
             "unit_c", b"\x1bx\x1bn\r"),
        ]
        started = time.time()
        for method, path, body, status, answer, unit_name, frame in cases:
            with self.subTest(path=path, method=method):
                unit = getattr(self, unit_name)
                before = len(unit.frames)
                self.assertEqual(self.request(method, path, body), (status, answer))
                frames = unit.wait_frames(before + 1)
                self.assertEqual(frames[before:], [frame])
        # "rack b/ü" answers OFF: labgrid's value reads 0, pdu-a's 1 after its "on".
        self.assertEqual(self.request("GET", "/api/v1/units/pdu-a/value"), (200, b"1"))
        self.assertEqual(self.request("GET", "/api/v1/units/rack%20b%2F%C3%BC/value"), (200, b"0"))
        # Each exchange is kept in the history with its source, as the control center keeps it,
        # and GET /api/v1/history gives what kavioctl history --json prints for the same filter.
        since = time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(started)) + ".%03d" % (
            started * 1000 % 1000)
        deadline = time.monotonic() + 10
        while True:
            status, body = self.request("GET", "/api/v1/history?unit=pdu-a&source=http&since=" +
                                        since)
            rows = json.loads(body)
            if len(rows) >= 3 or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        self.assertEqual(status, 200)
        self.assertEqual([(r["command"], r["source"], r["unit"], r["address"], r["port"])
                          for r in rows[:3]],
                         [(c, "http", "pdu-a", "127.0.0.2", self.unit_a.port) for c in "nfn"])
        printed = subprocess.run([KAVIOCTL, "--database", self.database, "history", "--unit",
                                  "pdu-a", "--source", "http", "--since", since, "--json"],
                                 capture_output=True, env=self.env, timeout=20, check=True)
        self.assertEqual(rows, json.loads(printed.stdout))

    def test_delay_is_only_a_reboots_gap(self):
        # PDUDaemon's delay separates a reboot's off and on; an on is sent at once, and its
        # answer waits for the unit's.
        before = len(self.unit_a.frames)
        started = time.monotonic()
        self.assertEqual(self.request("GET", "/power/control/on?alias=pdu-a&delay=1"),
                         (200, b"OK"))
        self.assertLess(time.monotonic() - started, 0.9)
        self.assertEqual(self.unit_a.frames[before:], [b"\x1bs3cret\x1bn\r"])

    def test_json_commands_wait_for_results(self):
        code, body = self.curl("-X", "POST", self.base + "/api/v1/groups/lab/query")
        self.assertEqual(code, 200)
        report = json.loads(body)
        self.assertEqual([(r["name"], r["status"], r["reply"]) for r in report],
                         [("pdu-a", "ON", "ON"), ("rack b/ü", "OFF", "OFF")])
        code, body = self.curl(self.base + "/api/v1/units")
        self.assertEqual(code, 200)
        self.assertEqual(sorted(u["name"] for u in json.loads(body)),
                         ["mute", "pdu-a", "rack b/ü", "sim"])
        code, body = self.curl(self.base + "/api/v1/groups")
        self.assertEqual(json.loads(body)[0]["members"], ["pdu-a", "rack b/ü"])
        code, body = self.curl("-X", "POST", self.base + "/api/v1/units/sim/cycle")
        self.assertEqual((code, json.loads(body)[0]["status"]), (200, "CYCLE"))
        # The listing follows every status written, however often it is asked for.
        for command, word in [("on", "ON"), ("off", "OFF"), ("on", "ON")]:
            with self.subTest(command=command):
                self.curl(self.base + "/api/v1/units")
                self.assertEqual(self.curl("-X", "POST", self.base + "/api/v1/units/sim/" +
                                           command)[0], 200)
                listing = json.loads(self.curl(self.base + "/api/v1/units")[1])
                self.assertEqual([u["status"] for u in listing if u["name"] == "sim"], [word])

    def test_refusals_send_nothing(self):
        before = (len(self.unit_a.frames), len(self.unit_b.frames))
        cases = [
            ("GET", "/power/control/on?hostname=nobody&port=1", 503, b"Unknown unit"),
            ("GET", "/power/control/on?hostname=pdu-a&port=2", 503, b"Bad port"),
            ("GET", "/power/control/on?hostname=pdu-a&port=1&delay=-1", 503, b"Bad delay"),
            ("GET", "/power/control/on?hostname=pdu-a&port=1&delay=x", 503, b"Bad delay"),
            ("GET", "/power/control/cycle?hostname=pdu-a&port=1", 503, b"Unknown command"),
            ("GET", "/power/control/on?alias=PDU-A", 503, b"Unknown unit"),
            ("POST", "/api/v1/units/pdu-a/explode", 400, b"unknown command"),
            ("POST", "/api/v1/units/PDU-A/on", 404, b"no unit"),
            ("POST", "/api/v1/units/pdu-a/on/now", 404, b"no such resource"),
            ("POST", "/api/v1/groups/pdu-a/on", 404, b"no group"),
            ("GET", "/api/v1/units/lab", 404, b"no unit"),
            ("DELETE", "/api/v1/units", 405, b"Method"),
            ("PUT", "/api/v1/units/pdu-a/value", 400, b"1 (on) or 0"),
            ("GET", "/api/v1/units/PDU-A/value", 404, b"no unit named 'PDU-A'"),
            ("GET", "/nothing/here", 404, b"no such"),
            ("GET", "/api/v1/history?unit=PDU-A", 404, b"no unit is named 'PDU-A'"),
            ("GET", "/api/v1/history?group=pdu-a", 404, b"no group is named 'pdu-a'"),
            ("GET", "/api/v1/history?unit=pdu-a&group=lab", 400, b"either unit or group"),
            ("GET", "/api/v1/history?unit=pdu-a&unit=sim", 400, b"'unit' is given twice"),
            ("GET", "/api/v1/history?unit=", 400, b"'unit' needs a value"),
            ("GET", "/api/v1/history?unit=%FF", 400, b"not percent-encoded UTF-8"),
            ("GET", "/api/v1/history?units=pdu-a", 400, b"unknown parameter 'units'"),
            ("GET", "/api/v1/history?since=yesterday", 400, b"'yesterday' is no time"),
            ("GET", "/api/v1/history?until=2026-13-01", 400, b"is no time"),
            ("GET", "/api/v1/history?source=cron", 400, b"'cron' is no source"),
            ("GET", "/api/v1/history?limit=0", 400, b"from 1 to 10000, not '0'"),
            ("GET", "/api/v1/history?limit=10001", 400, b"from 1 to 10000"),
            ("GET", "/api/v1/history?limit=5x", 400, b"from 1 to 10000"),
            ("POST", "/api/v1/history", 405, b"Method"),
        ]
        for method, path, status, text in cases:
            with self.subTest(path=path, method=method):
                code, body = self.request(method, path, b"2" if method == "PUT" else None)
                self.assertEqual(code, status)
                self.assertIn(text, body)
        time.sleep(0.3)
        self.assertEqual((len(self.unit_a.frames), len(self.unit_b.frames)), before)

    def test_history_filters_and_bounds(self):
        def local_ms(*when):
            return int(datetime.datetime(*when).timestamp() * 1000)

        def iso(ms):
            return datetime.datetime.fromtimestamp(ms / 1000, datetime.timezone.utc).strftime(
                "%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (ms % 1000)
        # Rows of 2000 and 2001, before anything the service itself keeps: (time, key, name,
        # source). Key 9 is a unit deleted since; 1005 rows of 2000 overflow the default limit.
        kept = [(local_ms(2001, 3, 1, 10), 1, "pdu-a", "poll"),
                (local_ms(2001, 6, 1, 11), 2, "rack b/ü", "timed poll"),
                (local_ms(2001, 6, 1, 12, 30), 1, "pdu-a", "timer"),
                (local_ms(2001, 7, 1, 9), 9, "gone", "http"),
                (local_ms(2001, 8, 1, 9), 3, "sim", "kavioctl")]
        bulk = [(local_ms(2000, 1, 1) + n * 1000, 4, "mute", "poll") for n in range(1005)]
        with sqlite3.connect(self.database, timeout=5) as db:
            db.executemany('INSERT INTO "History" ("Time", "Index", "Name", "IPAddress", "Port", '
                           '"Command", "Task", "Source", "Reply", "Status", "Outcome", '
                           '"Duration") VALUES (?, ?, ?, \'127.0.0.9\', 7, \'q\', 5, ?, '
                           '\'ON\', 0, \'answered\', 3)', kept + bulk)
        year_2001 = "since=2001-01-01&until=2002-01-01"
        cases = [  # query, the rows' unit/source, oldest first
            (year_2001, ["pdu-a/poll", "rack b/ü/timed poll", "pdu-a/timer", "gone/http",
                         "sim/kavioctl"]),
            (year_2001 + "&unit=" + urllib.parse.quote("rack b/ü", safe=""),
             ["rack b/ü/timed poll"]),
            (year_2001 + "&unit=gone", ["gone/http"]),
            (year_2001 + "&group=lab", ["pdu-a/poll", "rack b/ü/timed poll", "pdu-a/timer"]),
            (year_2001 + "&source=timed-poll", ["rack b/ü/timed poll"]),
            (year_2001 + "&source=timed%20poll", ["rack b/ü/timed poll"]),
            ("since=2001-06-01&until=2001-06-01%2012:30", ["rack b/ü/timed poll"]),
            ("since=2001-06-01T12:30&until=2001-07-02", ["pdu-a/timer", "gone/http"]),
            (year_2001 + "&limit=2", ["gone/http", "sim/kavioctl"]),
            (year_2001 + "&limit=5", ["pdu-a/poll", "rack b/ü/timed poll", "pdu-a/timer",
                                      "gone/http", "sim/kavioctl"]),
        ]
        for query, expected in cases:
            with self.subTest(query=query):
                req = urllib.request.Request(self.base + "/api/v1/history?" + query)
                with urllib.request.urlopen(req, timeout=10) as answer:
                    rows = json.loads(answer.read())
                    more = answer.headers.get("Kavio-More-Rows")
                self.assertEqual(["%s/%s" % (r["unit"], r["source"]) for r in rows], expected)
                self.assertEqual(more, "true" if query.endswith("limit=2") else None)
        # One row whole, as kavioctl history --json writes it.
        rows = json.loads(self.request("GET", "/api/v1/history?unit=gone")[1])
        self.assertEqual(rows, [{"time": iso(kept[3][0]), "key": 9, "unit": "gone",
                                 "address": "127.0.0.9", "port": 7, "command": "q",
                                 "source": "http", "reply": "ON", "status": "ON",
                                 "outcome": "answered", "duration_ms": 3}])
        # The default bound: the newest 1000 of the 1005 rows of 2000.
        with urllib.request.urlopen(self.base + "/api/v1/history?until=2001-01-01",
                                    timeout=10) as answer:
            rows = json.loads(answer.read())
            self.assertEqual(answer.headers.get("Kavio-More-Rows"), "true")
        self.assertEqual((len(rows), rows[0]["time"], rows[-1]["time"]),
                         (1000, iso(bulk[5][0]), iso(bulk[-1][0])))
        # The most a request may ask for lets every row through.
        with urllib.request.urlopen(self.base + "/api/v1/history?until=2001-01-01&limit=10000",
                                    timeout=10) as answer:
            self.assertEqual((len(json.loads(answer.read())),
                              answer.headers.get("Kavio-More-Rows")), (1005, None))

    def raw(self, data, read=True):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as connection:
            try:
                connection.sendall(data)
            except OSError:
                pass
            answer = b""
            while read:
                try:
                    chunk = connection.recv(65536)
                except OSError:
                    break
                if not chunk:
                    break
                answer += chunk
            return answer

    def test_malformed_and_oversized_requests(self):
        cases = [
            (b"GARBAGE\r\n\r\n", b"HTTP/1.1 400 "),
            (b"GET /metrics HTTP/1.1\r\nno colon here\r\n\r\n", b"HTTP/1.1 400 "),
            (b"GET /metrics HTTP/1.1\r\nContent-Length: -5\r\n\r\n", b"HTTP/1.1 400 "),
            (b"GET /" + b"a" * 9000 + b" HTTP/1.1\r\n\r\n", b"HTTP/1.1 431 "),
            (b"POST /api/v1/units/pdu-a/on HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" +
             b"x" * 1048576, b"HTTP/1.1 413 "),
            (b"POST /api/v1/units/pdu-a/on HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" +
             b"100000\r\n" + b"x" * 1048576, b"HTTP/1.1 411 "),
        ]
        before = len(self.unit_a.frames)
        for data, status in cases:
            with self.subTest(request=data[:40]):
                self.assertTrue(self.raw(data).startswith(status))
                self.assertEqual(self.request("GET", "/api/v1/units/pdu-a")[0], 200)
        self.assertIn("HTTP 400 to 127.0.0.1:", self.service.log())
        self.assertEqual(len(self.unit_a.frames), before)

    def test_fuzzed_requests_leave_the_service_answering(self):
        import random
        rng = random.Random(17)
        valid = b"POST /api/v1/units/pdu-a/query HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n"
        before = len(self.unit_a.frames)
        requests = []
        for _ in range(150):
            data = bytearray(valid)
            for _ in range(rng.randint(1, 6)):
                data[rng.randrange(len(data))] = rng.randrange(256)
            if b"\r\n\r\n" not in data:
                data += b"\r\n\r\n"
            requests.append(bytes(data))
        # Many at once, as a scanner sends them; one left waiting for its body holds no other.
        with concurrent.futures.ThreadPoolExecutor(max_workers=30) as pool:
            for answer in pool.map(self.raw, requests):
                self.assertTrue(answer == b"" or answer.startswith(b"HTTP/1.1 "), answer[:80])
        self.assertEqual(self.request("GET", "/api/v1/units/pdu-a")[0], 200)
        # Only requests still reading as a query of pdu-a may have reached it.
        self.assertTrue(all(f == b"\x1bs3cret\x1bq\r" for f in self.unit_a.frames[before:]))

    def test_idle_connections_do_not_block_others(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 4096), hard))
        idle = [socket.create_connection(("127.0.0.1", self.port)) for _ in range(1000)]
        try:
            self.assertEqual(self.curl(self.base + "/api/v1/queue")[0], 200)
        finally:
            for connection in idle:
                connection.close()
        time.sleep(0.2)
        self.assertEqual(self.request("GET", "/api/v1/queue")[0], 200)

    def test_metrics_pass_promtool(self):
        code, body = self.request("GET", "/metrics")
        self.assertEqual(code, 200)
        text = body.decode()
        self.assertIn('kavio_unit_status{name="pdu-a",address="127.0.0.2"}', text)
        self.assertIn('kavio_exchanges_total{command="query",outcome="answered"}', text)
        self.assertIn("kavio_exchange_duration_seconds_count", text)
        promtool = shutil.which("promtool")
        if not promtool:
            self.skipTest("promtool is not installed (Debian package prometheus)")
        check = subprocess.run([promtool, "check", "metrics"], input=body, capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_kavioctl_is_served_through_the_service(self):
        before = len(self.unit_a.frames)
        result = subprocess.run([KAVIOCTL, "--database", self.database, "on", "pdu-a"],
                                capture_output=True, env=self.env, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.unit_a.wait_frames(before + 1)[before:], [b"\x1bs3cret\x1bn\r"])

    def test_one_engine_per_database(self):
        result = subprocess.run([KAVIOD, "--database", self.database], capture_output=True,
                                env=self.env, timeout=30)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"another kaviod", result.stderr)
        # A control center started now follows the service and stays; a second start brings
        # that window to the front and ends at once.
        window = subprocess.Popen([KAVIOCC, "--database", self.database],
                                  stderr=subprocess.PIPE, env=self.env)
        try:
            time.sleep(2)
            self.assertIsNone(window.poll())
            second = subprocess.run([KAVIOCC, "--database", self.database],
                                    capture_output=True, env=self.env, timeout=30)
            self.assertEqual(second.returncode, 0, second.stderr)
        finally:
            window.terminate()
            window.wait(10)


class TokenAndShutdownTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="kaviod-token-")
        self.env = private_environment(self.home)
        self.database = os.path.join(self.home, "units.db")
        self.unit = RecordingUnit("127.0.0.4", b"ON", delay=0.4)
        with sqlite3.connect(self.database) as db:
            db.executescript(SCHEMA)
            db.executemany('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                           "VALUES (?, ?, ?, '')",
                           [("slow%d" % n, "127.0.0.4", self.unit.port) for n in range(3)])
        self.token = os.path.join(self.home, "token")
        with open(self.token, "w") as handle:
            handle.write("t0ken-value\n")

    def tearDown(self):
        shutil.rmtree(self.home, ignore_errors=True)

    def test_token_file_rules(self):
        os.chmod(self.token, 0o644)
        result = subprocess.run([KAVIOD, "--database", self.database, "--http", "127.0.0.1:0",
                                 "--http-token-file", self.token], capture_output=True,
                                env=self.env, timeout=20)
        self.assertEqual((result.returncode, b"mode 0600" in result.stderr), (1, True))
        result = subprocess.run([KAVIOD, "--database", self.database, "--http", "0.0.0.0:0"],
                                capture_output=True, env=self.env, timeout=20)
        self.assertEqual((result.returncode, b"needs --http-token-file" in result.stderr),
                         (1, True))
        os.chmod(self.token, 0o600)
        service = Service(self.home, self.database, "--http", "127.0.0.1:0",
                          "--http-token-file", self.token, env=self.env)
        try:
            base = "http://127.0.0.1:%d" % service.http_port()
            for headers, status in [({}, 401), ({"Authorization": "Bearer wrong"}, 401),
                                    ({"Authorization": "t0ken-value"}, 401),
                                    ({"Authorization": "Bearer t0ken-value"}, 200)]:
                with self.subTest(headers=headers):
                    req = urllib.request.Request(base + "/api/v1/units", headers=headers)
                    try:
                        with urllib.request.urlopen(req, timeout=10) as answer:
                            code = answer.status
                    except urllib.error.HTTPError as error:
                        code = error.code
                    self.assertEqual(code, status)
        finally:
            service.stop()

    def test_refused_starts_change_nothing(self):
        """A command line or option kaviod cannot take ends it before the store is touched."""
        with sqlite3.connect(self.database) as db:
            db.execute('UPDATE "Master" SET "Status" = 0')
        missing = os.path.join(self.home, "typo", "units.db")
        cases = [
            # (arguments, exit status, words on standard error)
            (["--bogus"], 64, b"--help"),
            (["--create"], 64, b"'--create' goes with '--database'"),
            (["--database", missing], 1, b"nor does its folder (--create makes a new one)"),
            (["--database", self.database, "--http", "0.0.0.0:0"], 1, b"needs --http-token-file"),
        ]
        for arguments, status, words in cases:
            with self.subTest(arguments=arguments):
                result = subprocess.run([KAVIOD, *arguments], capture_output=True, env=self.env,
                                        timeout=20)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(words, result.stderr)
        self.assertFalse(os.path.exists(os.path.dirname(missing)))
        with sqlite3.connect(self.database) as db:
            self.assertEqual(db.execute('SELECT DISTINCT "Status" FROM "Master"').fetchall(), [(0,)])
        # Help that cannot be written is no success; help that can is.
        with open("/dev/full", "wb") as full:
            result = subprocess.run([KAVIOD, "--help"], stdout=full, stderr=subprocess.PIPE,
                                    env=self.env, timeout=20)
        self.assertEqual(result.returncode, 1, result.stderr)
        result = subprocess.run([KAVIOD, "--help"], capture_output=True, env=self.env, timeout=20)
        self.assertEqual((result.returncode, b"--create" in result.stdout), (0, True))
        # --create makes a missing database and its folder, and serves it.
        service = Service(self.home, missing, "--create", env=self.env)
        try:
            self.assertTrue(service.wait_for(" serves "), service.log())
            self.assertTrue(os.path.exists(missing))
        finally:
            service.stop()

    def test_group_timer_fires_for_each_member(self):
        if time.localtime().tm_sec > 50:
            time.sleep(61 - time.localtime().tm_sec)
        now = time.localtime()
        with sqlite3.connect(self.database) as db:
            db.executescript('CREATE TABLE "Timer" ("TimerIndex" INTEGER PRIMARY KEY '
                             'AUTOINCREMENT, "Index" INTEGER NOT NULL, "Task" INTEGER NOT NULL, '
                             '"Every" INTEGER NOT NULL, "Count" INTEGER NOT NULL DEFAULT 0, '
                             '"TimeOfDay" TEXT NOT NULL, "DayOfWeek" INTEGER NOT NULL DEFAULT 0, '
                             '"Month" INTEGER NOT NULL DEFAULT 0, "Date" TEXT NOT NULL);')
            db.execute('INSERT INTO "Master" ("Name", "Group") VALUES (\'pair\', 1)')
            db.executemany('INSERT INTO "Group" VALUES (4, ?)', [(1,), (3,)])
            # Once, today, in this minute: it fires at the service's first tick.
            db.execute('INSERT INTO "Timer" ("Index", "Task", "Every", "TimeOfDay", "Date") '
                       "VALUES (4, 1, 4, ?, ?)", (time.strftime("%H:%M:00", now),
                                                  time.strftime("%Y-%m-%d", now)))
        service = Service(self.home, self.database, env=self.env)
        try:
            # Three queries of the first poll and one "off" for each member of the group.
            self.unit.wait_frames(5, timeout=10)
            time.sleep(1.5)
            self.assertEqual(sorted(self.unit.frames), [b"\x1b\x1bf\r"] * 2 +
                             [b"\x1b\x1bq\r"] * 3, service.log())
        finally:
            service.stop()

    def test_refused_while_the_control_center_serves_the_database(self):
        folder = os.path.join(self.env["XDG_DATA_HOME"], "KavioCC")
        os.makedirs(folder)
        os.symlink(self.database, os.path.join(folder, "KavioCC.db"))
        window = subprocess.Popen([KAVIOCC], env=self.env, stderr=subprocess.DEVNULL)
        try:
            time.sleep(3)
            self.assertIsNone(window.poll())
            result = subprocess.run([KAVIOD, "--database", self.database], capture_output=True,
                                    env=self.env, timeout=30)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn(b"the Kavio Control Center (pid %d) serves" % window.pid, result.stderr)
        finally:
            window.terminate()
            window.wait(10)

    def test_sighup_rereads_the_settings(self):
        service = Service(self.home, self.database, env=self.env)
        try:
            self.assertTrue(service.wait_for("Poll/Mode 2"), service.log())
            with open(os.path.join(self.env["XDG_CONFIG_HOME"], "KavioCC.ini"), "w") as ini:
                ini.write("[Poll]\nMode=5\n[Queue]\nParallel=3\n")
            service.process.send_signal(signal.SIGHUP)
            self.assertTrue(service.wait_for("Poll/Mode 5, Queue/Parallel 3"), service.log())
            self.assertIsNone(service.process.poll())
        finally:
            service.stop()

    def test_store_warning_is_logged_not_shown(self):
        with sqlite3.connect(self.database) as db:
            db.execute('INSERT INTO "Master" ("Index", "Name", "IPAddress", "Port") '
                       "VALUES (70000, 'far', '127.0.0.4', 1)")
        service = Service(self.home, self.database, env=self.env)
        try:
            self.assertTrue(service.wait_for("70000"), service.log())
            self.assertTrue(service.wait_for("serves"), service.log())
            self.assertIsNone(service.process.poll())
        finally:
            service.stop()
        self.assertEqual(service.process.returncode, 0)

    def test_tls(self):
        if not shutil.which("openssl"):
            self.skipTest("openssl is not installed")
        key, cert = os.path.join(self.home, "key.pem"), os.path.join(self.home, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1"],
                       capture_output=True, check=True)
        service = Service(self.home, self.database, "--http", "127.0.0.1:0", "--tls-cert", cert,
                          "--tls-key", key, env=self.env)
        try:
            self.assertTrue(service.wait_for("HTTPS on 127.0.0.1:"), service.log())
            line = [l for l in service.log().splitlines() if "HTTPS on" in l][0]
            port = line.rsplit(":", 1)[1]
            secure = subprocess.run(["curl", "-sk", "-o", "/dev/null", "-w", "%{http_code}",
                                     "https://127.0.0.1:%s/api/v1/units" % port],
                                    capture_output=True, timeout=15)
            plain = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                                    "http://127.0.0.1:%s/api/v1/units" % port],
                                   capture_output=True, timeout=15)
            self.assertEqual((secure.stdout, plain.stdout), (b"200", b"000"))
        finally:
            service.stop()

    def test_sigterm_mid_exchange_writes_the_status(self):
        silent = SilentUnit("127.0.0.6")
        limit = 5.0 + 0.5  # the connect limit and the reply limit
        # (the first unit's listener, what the log says, its status, its kept outcome)
        cases = [(self.unit, "waiting command(s) are not sent", 0, "answered"),
                 (silent, "is given up", 3, "timed out")]
        for unit, logged, status, outcome in cases:
            with self.subTest(unit=type(unit).__name__):
                with sqlite3.connect(self.database) as db:
                    db.execute('UPDATE "Master" SET "IPAddress" = ?, "Port" = ? '
                               'WHERE "Name" = \'slow0\'', unit.server.getsockname())
                frames = len(unit.frames)
                service = Service(self.home, self.database, env=self.env)
                # The first poll queries the three units one after another; the first answers
                # after 0.4 s or never.
                self.assertTrue(service.wait_for("Sending the q Command"), service.log())
                signalled = time.monotonic()
                service.process.send_signal(signal.SIGTERM)
                self.assertEqual(service.process.wait(limit + 2), 0)
                self.assertLess(time.monotonic() - signalled, limit + 1.5)
                service.stop()
                self.assertIn(logged, service.log())
                # Only the first unit was reached.
                self.assertEqual(len(unit.frames), frames + 1)
                with sqlite3.connect(self.database) as db:
                    statuses = [row[0] for row in db.execute('SELECT "Status" FROM "Master" '
                                                             'ORDER BY "Index"')]
                    kept = db.execute('SELECT "Name", "Outcome", "Status" FROM "History" '
                                      'ORDER BY "Id" DESC LIMIT 1').fetchall()
                self.assertEqual(statuses, [status, 3, 3])
                self.assertEqual(kept, [("slow0", outcome, status)])

    def test_kill_loses_no_row_whose_status_is_in(self):
        # Killed right after an exchange ends, kaviod has its history row in with its status.
        for _ in range(3):
            started = int(time.time() * 1000) - 1000
            service = Service(self.home, self.database, env=self.env)
            try:
                self.assertTrue(service.wait_for("  SUCCESS"), service.log())
                service.process.send_signal(signal.SIGKILL)
                service.process.wait(10)
            finally:
                service.stop()
            with sqlite3.connect(self.database) as db:
                answered = [row[0] for row in db.execute(
                    'SELECT "Index" FROM "Master" WHERE "Status" = 0 ORDER BY "Index"')]
                kept = [row[0] for row in db.execute(
                    'SELECT DISTINCT "Index" FROM "History" WHERE "Status" = 0 AND "Time" >= ? '
                    'ORDER BY "Index"', (started,))]
            self.assertTrue(answered, service.log())
            self.assertEqual(kept, answered)

    def test_queue_lists_what_waits(self):
        slow = RecordingUnit("127.0.0.4", b"ON", delay=2.0)
        with sqlite3.connect(self.database) as db:
            db.execute('UPDATE "Master" SET "Port" = ?', (slow.port,))
            db.execute('INSERT INTO "Master" ("Name", "Group") VALUES (\'empty\', 1)')
        service = Service(self.home, self.database, "--http", "127.0.0.1:0", env=self.env)
        try:
            base = "http://127.0.0.1:%d" % service.http_port()
            # The first poll: slow0 is being asked, the other two wait their turn.
            self.assertTrue(service.wait_for("Sending the q Command"), service.log())
            asked = datetime.datetime.now(datetime.timezone.utc)
            with urllib.request.urlopen(base + "/api/v1/queue", timeout=10) as answer:
                listing = json.loads(answer.read())
            queue = listing["entries"]
            self.assertEqual((listing["count"], listing["delayed"]), (3, []))
            self.assertEqual([(e["position"], e["name"], e["command"], e["under_way"])
                              for e in queue],
                             [(0, "slow0", "query", True), (1, "slow1", "query", False),
                              (2, "slow2", "query", False)])
            self.assertIsNone(queue[0]["estimated_start"])
            self.assertTrue(all(e["estimated_start"].endswith("Z") for e in queue[1:]), queue)
            starts = [datetime.datetime.fromisoformat(e["estimated_start"]) for e in queue[1:]]
            self.assertTrue(asked - datetime.timedelta(seconds=1) <= starts[0] <= starts[1]
                            <= asked + datetime.timedelta(minutes=1), starts)
            # A group without members switches nothing.
            request = urllib.request.Request(base + "/api/v1/groups/empty/on", method="POST")
            with self.assertRaises(urllib.error.HTTPError) as refused:
                urllib.request.urlopen(request, timeout=10)
            self.assertEqual(refused.exception.code, 404)
            self.assertIn(b"has no units", refused.exception.read())
        finally:
            service.stop()

    def test_kavioctl_import_reaches_the_running_service(self):
        fresh = RecordingUnit("127.0.0.7", b"OFF")
        service = Service(self.home, self.database, "--http", "127.0.0.1:0", env=self.env)
        try:
            base = "http://127.0.0.1:%d" % service.http_port()

            def names(kind):
                with urllib.request.urlopen(base + "/api/v1/" + kind, timeout=10) as answer:
                    return sorted(record["name"] for record in json.loads(answer.read()))
            self.assertEqual(names("units"), ["slow0", "slow1", "slow2"])
            csv = os.path.join(self.home, "units.csv")
            with open(csv, "w", encoding="utf-8") as handle:
                handle.write("name,address,port,password,groups\n"
                             "fresh ü,127.0.0.7,%d,pw,bench\n" % fresh.port)
            result = subprocess.run([KAVIOCTL, "--database", self.database, "import", csv],
                                    capture_output=True, env=self.env, timeout=30)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(names("units"), ["fresh ü", "slow0", "slow1", "slow2"])
            self.assertEqual(names("groups"), ["bench"])
            # The new group and its new member are served by name at once.
            request = urllib.request.Request(base + "/api/v1/groups/bench/off", method="POST")
            with urllib.request.urlopen(request, timeout=20) as answer:
                report = json.loads(answer.read())
            self.assertEqual([(r["name"], r["status"]) for r in report], [("fresh ü", "OFF")])
            self.assertEqual(fresh.frames, [b"\x1bpw\x1bf\r"])
        finally:
            service.stop()


class QueueBoundsTest(unittest.TestCase):
    """A unit with a long line of commands: the queue's bounds, and who waits for whom."""

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="kaviod-queue-")
        self.env = private_environment(self.home)
        self.database = os.path.join(self.home, "units.db")
        self.slow = RecordingUnit("127.0.0.6", b"ON", delay=0.3)
        self.quick = RecordingUnit("127.0.0.8", b"ON")
        self.busy = RecordingUnit("127.0.0.9", b"BUSY")
        with sqlite3.connect(self.database) as db:
            db.executescript(SCHEMA)
            db.executemany('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                           "VALUES (?, ?, ?, 'pw')",
                           [("slow", "127.0.0.6", self.slow.port),
                            ("quick", "127.0.0.8", self.quick.port),
                            ("busy", "127.0.0.9", self.busy.port)])
        self.service = Service(self.home, self.database, "--http", "127.0.0.1:0", env=self.env)
        self.base = "http://127.0.0.1:%d" % self.service.http_port()
        self.quick.wait_frames(1)
        self.slow.wait_frames(1)
        time.sleep(0.3)

    def tearDown(self):
        self.service.stop()
        shutil.rmtree(self.home, ignore_errors=True)

    def call(self, method, path):
        request = urllib.request.Request(self.base + path, method=method)
        try:
            with urllib.request.urlopen(request, timeout=20) as answer:
                return answer.status, answer.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def kavioctl(self, *arguments):
        started = time.monotonic()
        result = subprocess.run([KAVIOCTL, "--database", self.database, *arguments],
                                capture_output=True, env=self.env, timeout=60)
        return result, time.monotonic() - started

    def test_a_long_line_is_bounded_and_holds_back_no_other_unit(self):
        # 70 PDUDaemon reboots for one unit, each answered once its off is queued: one under
        # way, 64 waiting, the rest refused.
        answers = [self.call("GET", "/power/control/reboot?hostname=slow&port=1&delay=0")
                   for _ in range(70)]
        accepted = sum(1 for code, _ in answers if code == 200)
        refused = [body for code, body in answers if code == 503]
        self.assertIn(accepted, (64, 65, 66), answers)
        self.assertEqual(accepted + len(refused), 70)
        self.assertIn(b"64 commands wait for slow already", refused[0])
        self.assertIn("Not queued: 64 commands wait for slow", self.service.log())
        # The JSON API says 429 for a unit's full line, and queues nothing.
        code, body = self.call("POST", "/api/v1/units/slow/off")
        self.assertEqual(code, 429, body)
        self.assertIn(b"64 commands wait", body)
        # kavioctl is refused too, by name of the program that refused.
        result, _ = self.kavioctl("off", "slow")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"kaviod refused the commands: 64 commands wait", result.stderr)
        self.assertNotIn(b"Kavio Control Center", result.stderr)

        # Another unit's command is served at once, not after the 20 s line; kavioctl's is
        # kept as kavioctl's.
        started = time.monotonic()
        code, body = self.call("POST", "/api/v1/units/quick/on")
        self.assertEqual(code, 200, body)
        self.assertLess(time.monotonic() - started, 5)
        result, took = self.kavioctl("on", "quick")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertLess(took, 10)
        with sqlite3.connect(self.database) as db:
            sources = db.execute('SELECT "Source" FROM "History" WHERE "Name" = \'quick\' '
                                 'ORDER BY "Id" DESC LIMIT 2').fetchall()
        self.assertEqual(sources, [("kavioctl",), ("http",)])

        # Behind the line, kavioctl waits --wait (and one exchange's time), not the line.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            result, took = self.kavioctl("query", "slow", "--wait", "1")
            if b"refused" not in result.stderr:
                break
            time.sleep(0.5)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"kaviod has not served 1 command(s) within 6 s", result.stderr)
        self.assertLess(took, 15)

        # on of a unit that answers BUSY switched nothing: exit 1.
        result, _ = self.kavioctl("on", "busy")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stdout, b"busy\ton\tBUSY\n")

if __name__ == "__main__":
    unittest.main(verbosity=2)
