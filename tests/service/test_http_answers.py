#!/usr/bin/env python3
"""What kaviod's HTTP answers say: on and off succeed only when the unit says so, the metrics
tell a silent unit from one that answers, a command's answer waits as long as the queue needs
and no longer, the listings are bounded, and PDUDaemon's requests mean what they mean there."""

import datetime
import json
import os
import re
import shutil
import socket
import sqlite3
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_kaviod import SCHEMA, private_environment, RecordingUnit, SilentUnit, Service  # noqa: E402


class BlackHole:
    """An address whose listen queue is full: a connect to it neither succeeds nor fails."""

    def __init__(self, address):
        self.server = socket.socket()
        self.server.bind((address, 0))
        self.server.listen(0)
        self.port = self.server.getsockname()[1]
        self.fillers = []
        for _ in range(8):
            filler = socket.socket()
            filler.setblocking(False)
            filler.connect_ex((address, self.port))
            self.fillers.append(filler)
        time.sleep(0.2)

    def close(self):
        for filler in self.fillers:
            filler.close()
        self.server.close()


def request(base, method, path, body=None, timeout=60):
    """(status, body, headers, seconds) of one request with urllib."""
    req = urllib.request.Request(base + path, data=body, method=method)
    started = time.monotonic()
    try:
        with urllib.request.urlopen(req, timeout=timeout) as answer:
            return answer.status, answer.read(), answer.headers, time.monotonic() - started
    except urllib.error.HTTPError as error:
        return error.code, error.read(), error.headers, time.monotonic() - started


class HttpAnswersTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="kaviod-answers-")
        cls.env = private_environment(cls.home)
        cls.on = RecordingUnit("127.0.0.2", b"ON")
        cls.off = RecordingUnit("127.0.0.3", b"OFF")
        cls.what = RecordingUnit("127.0.0.5", b"WHAT?")
        cls.silent = SilentUnit("127.0.0.6")
        cls.shared = RecordingUnit("127.0.0.8", b"ON")
        cls.nine = RecordingUnit("127.0.0.9", b"ON")
        cls.database = os.path.join(cls.home, "units.db")
        units = [("pdu-a", "127.0.0.2", cls.on.port), ("rack b", "127.0.0.3", cls.off.port),
                 ("what", "127.0.0.5", cls.what.port), ("silent", "127.0.0.6", cls.silent.port),
                 ("nine", "127.0.0.9", cls.nine.port)]
        # Six units share one address; one of them is named like another unit's address.
        units += [("127.0.0.9" if n == 4 else "shared %d" % n, "127.0.0.8", cls.shared.port)
                  for n in range(6)]
        with sqlite3.connect(cls.database) as db:
            db.executescript(SCHEMA)
            db.executemany('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                           "VALUES (?, ?, ?, 'pw')", units)
            db.execute('INSERT INTO "Master" ("Name", "Group") VALUES (\'Lab A\', 1)')
            group = db.execute('SELECT "Index" FROM "Master" WHERE "Name" = \'Lab A\'').fetchone()
            db.executemany('INSERT INTO "Group" VALUES (?, ?)', [(group[0], 1), (group[0], 2)])
        cls.started = time.time()
        cls.service = Service(cls.home, cls.database, "--http", "127.0.0.1:0", env=cls.env)
        cls.base = "http://127.0.0.1:%d" % cls.service.http_port()
        # The first poll asks every unit once; the silent one takes the reply limit.
        assert cls.service.wait_for("silent") and cls.shared.wait_frames(6, 15), cls.service.log()
        cls.wait_quiet(cls.base)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        shutil.rmtree(cls.home, ignore_errors=True)

    @staticmethod
    def wait_quiet(base, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            status, body, _, _ = request(base, "GET", "/api/v1/queue")
            if status == 200 and json.loads(body)["count"] == 0:
                return
            time.sleep(0.1)
        raise AssertionError("the queue never emptied")

    def get(self, path, base=None):
        return request(base or self.base, "GET", path)

    def metrics(self):
        status, body, _, _ = self.get("/metrics")
        self.assertEqual(status, 200)
        return body.decode()

    def test_on_and_off_succeed_only_in_the_asked_state(self):
        off_frame = b"\x1bpw\x1bf\r"
        cases = [
            # (method, path, body, status, answer (exact or a part), unit, frame sent)
            ("PUT", "/api/v1/units/pdu-a/value", b"1", 200, b"", self.on, b"\x1bpw\x1bn\r"),
            ("PUT", "/api/v1/units/pdu-a/value", b"0", 502, b"FAILED: pdu-a answered 'ON'\n",
             self.on, off_frame),
            ("PUT", "/api/v1/units/what/value", b"1", 502, b"FAILED: what answered 'WHAT?'\n",
             self.what, b"\x1bpw\x1bn\r"),
            ("PUT", "/api/v1/units/silent/value", b"0", 502, b"FAILED: silent: timed out\n",
             self.silent, off_frame),
            ("GET", "/power/control/off?hostname=pdu-a&port=1", None, 502,
             b"FAILED: pdu-a answered 'ON'\n", self.on, off_frame),
            ("GET", "/power/control/on?hostname=pdu-a&port=1", None, 200, b"OK", self.on,
             b"\x1bpw\x1bn\r"),
            ("GET", "/power/control/off?alias=rack+b", None, 200, b"OK", self.off, off_frame),
            ("POST", "/api/v1/units/rack%20b/on", None, 502, None, self.off, b"\x1bpw\x1bn\r"),
            ("POST", "/api/v1/units/rack%20b/off", None, 200, None, self.off, off_frame),
            ("POST", "/api/v1/units/pdu-a/query", None, 200, None, self.on, b"\x1bpw\x1bq\r"),
        ]
        for method, path, body, status, answer, unit, frame in cases:
            with self.subTest(method=method, path=path, body=body):
                before = len(unit.frames)
                code, text, _, _ = request(self.base, method, path, body)
                self.assertEqual(code, status, text)
                if answer is not None:
                    self.assertEqual(text, answer)
                self.assertEqual(RecordingUnit.wait_frames(unit, before + 1)[before:], [frame])
        # The JSON report names the reply that made it fail.
        code, text, _, _ = request(self.base, "POST", "/api/v1/groups/Lab%20A/on")
        self.assertEqual(code, 502)
        self.assertEqual([(r["name"], r["status"], r["reply"]) for r in json.loads(text)],
                         [("pdu-a", "ON", "ON"), ("rack b", "OFF", "OFF")])

    def test_metrics_tell_outcomes(self):
        # A unit added now has not been asked yet: its status shows, but not whether it answers.
        with sqlite3.connect(self.database) as db:
            db.execute('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                       "VALUES ('fresh', '127.0.0.11', 1, 'pw')")
        deadline = time.monotonic() + 10
        while 'kavio_unit_status{name="fresh"' not in self.metrics():
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)
        text = self.metrics()
        values = {}
        for line in text.splitlines():
            if not line.startswith("#"):
                key, _, value = line.rpartition(" ")
                values[key] = float(value)

        def unit(series, name, address, extra=""):
            return values.get('%s{name="%s",address="%s"%s}' % (series, name, address, extra))

        self.assertEqual(unit("kavio_unit_status", "fresh", "127.0.0.11"), 3)
        self.assertIsNone(unit("kavio_unit_reachable", "fresh", "127.0.0.11"))
        self.assertIsNone(unit("kavio_unit_last_answer_timestamp_seconds", "fresh",
                               "127.0.0.11"))
        # (unit, address, reachable, the state it reads as)
        for name, address, reachable, state in [("nine", "127.0.0.9", 1, "on"),
                                                ("silent", "127.0.0.6", 0, "unknown"),
                                                ("what", "127.0.0.5", 0, "unknown")]:
            with self.subTest(unit=name):
                self.assertEqual(unit("kavio_unit_reachable", name, address), reachable)
                answered = unit("kavio_unit_last_answer_timestamp_seconds", name, address)
                if reachable:
                    self.assertTrue(self.started <= answered <= time.time(), answered)
                else:
                    self.assertIsNone(answered)
                states = {s: unit("kavio_unit_state", name, address, ',state="%s"' % s)
                          for s in ("on", "off", "cycle", "unknown", "unreachable", "busy")}
                self.assertEqual(states, {s: float(s == state) for s in states})
        # The first poll's queries, counted in the history's words.
        self.assertGreaterEqual(values['kavio_exchanges_total{command="query",outcome="timed out"}'],
                                1)
        self.assertGreaterEqual(
            values['kavio_exchanges_total{command="query",outcome="unknown reply"}'], 1)
        self.assertGreaterEqual(values['kavio_exchanges_total{command="query",outcome="answered"}'],
                                9)
        buckets = [float(m) for m in re.findall(r'_bucket\{le="([0-9.e+]+)"\}', text)]
        self.assertEqual(buckets, sorted(buckets))
        self.assertGreater(buckets[-1], 5.5)
        self.assertEqual(values["kavio_queue_length"], 0)

    def test_pdudaemon_requests_as_pdudaemon_reads_them(self):
        cases = [
            # (path, status, part of the answer, unit and the frame it receives, or None)
            ("/power/control/on?hostname=pdu-a&port=01", 200, b"OK", self.on, b"n"),
            ("/power/control/on?hostname=pdu-a&port=04", 503, b"Bad port '04'", None, None),
            ("/power/control/on?hostname=pdu-a&hostname=nine&port=1", 400,
             b"'hostname' is given twice", None, None),
            ("/power/control/on?hostname=pdu-a&port=1&port=1", 400, b"'port' is given twice",
             None, None),
            ("/power/control/on?hostname=127.0.0.8&port=1", 503,
             b"Address 127.0.0.8 is shared by the units ", None, None),
            # A name wins over the address of another unit.
            ("/power/control/on?hostname=127.0.0.9&port=1", 200, b"OK", self.shared, b"n"),
            ("/power/control/on?hostname=127.0.0.2&port=1", 200, b"OK", self.on, b"n"),
        ]
        for path, status, part, unit, letter in cases:
            with self.subTest(path=path):
                counts = [len(u.frames) for u in (self.on, self.shared, self.nine)]
                code, text, _, _ = self.get(path)
                self.assertEqual(code, status, text)
                self.assertIn(part, text)
                if unit:
                    before = counts[[self.on, self.shared, self.nine].index(unit)]
                    self.assertEqual(unit.wait_frames(before + 1)[before:][0][-2:-1], letter)
                time.sleep(0.2)
                after = [len(u.frames) for u in (self.on, self.shared, self.nine)]
                self.assertEqual(sum(after) - sum(counts), 1 if unit else 0)
        shared = self.get("/power/control/off?hostname=127.0.0.8&port=1")[1].decode()
        self.assertEqual(sorted(shared.split("units ")[1].split(": ")[0].split(", ")),
                         ["127.0.0.9"] + ["shared %d" % n for n in (0, 1, 2, 3, 5)])
        log = self.service.log()
        self.assertIn("/power/control/on refused: Bad port '04'", log)
        self.assertIn("/power/control/on refused: Address 127.0.0.8 is shared", log)

        # A reboot of a unit whose status is unknown: off, the delay, on; the on waits in the
        # queue's listing and the metrics meanwhile.
        self.wait_quiet(self.base)
        before = len(self.what.frames)
        asked = time.monotonic()
        self.assertEqual(self.get("/power/control/reboot?alias=what&delay=2")[:2], (200, b"OK"))
        self.assertEqual(self.what.wait_frames(before + 1)[before:], [b"\x1bpw\x1bf\r"])
        time.sleep(0.3)
        status, body, _, _ = self.get("/api/v1/queue")
        listing = json.loads(body)
        self.assertEqual((listing["count"], listing["entries"]), (1, []))
        self.assertEqual([(d["name"], d["command"]) for d in listing["delayed"]], [("what", "on")])
        due = datetime.datetime.fromisoformat(listing["delayed"][0]["queued_at"].replace("Z",
                                                                                          "+00:00"))
        now = datetime.datetime.now(datetime.timezone.utc)
        self.assertTrue(now < due <= now + datetime.timedelta(seconds=2), (now, due))
        self.assertIn("kavio_queue_length 1\n", self.metrics())
        self.assertEqual(self.what.wait_frames(before + 2)[before:],
                         [b"\x1bpw\x1bf\r", b"\x1bpw\x1bn\r"])
        self.assertGreaterEqual(time.monotonic() - asked, 2.0)
        self.assertEqual(len(self.what.frames), before + 2)

    def test_plus_in_a_query_is_a_space(self):
        before = len(self.off.frames)
        self.assertEqual(self.get("/power/control/off?hostname=rack+b&port=1")[:2], (200, b"OK"))
        self.assertEqual(len(self.off.wait_frames(before + 1)), before + 1)
        for path in ("/api/v1/history?group=Lab+A&limit=3", "/api/v1/history?unit=rack+b"):
            with self.subTest(path=path):
                status, body, _, _ = self.get(path)
                self.assertEqual(status, 200, body)
                self.assertTrue(json.loads(body))

    def test_listings_are_bounded_and_paged(self):
        status, body, headers, _ = self.get("/api/v1/units?limit=3&offset=2")
        self.assertEqual(status, 200, body)
        everything = json.loads(self.get("/api/v1/units?limit=100")[1])
        names = [u["name"] for u in everything]
        self.assertEqual(len(names), int(headers["Kavio-Total-Count"]))
        self.assertEqual([u["name"] for u in json.loads(body)], names[2:5])
        self.assertEqual(headers["Kavio-More-Rows"], "true")
        status, body, headers, _ = self.get("/api/v1/units?offset=%d" % (len(names) - 1))
        self.assertEqual([u["name"] for u in json.loads(body)], names[-1:])
        self.assertIsNone(headers["Kavio-More-Rows"])
        status, body, headers, _ = self.get("/api/v1/groups?limit=1")
        self.assertEqual([(g["name"], g["members"]) for g in json.loads(body)],
                         [("Lab A", ["pdu-a", "rack b"])])
        self.assertEqual(headers["Kavio-Total-Count"], "1")
        one = json.loads(self.get("/api/v1/units/rack%20b")[1])
        self.assertEqual(one, [u for u in everything if u["name"] == "rack b"][0])
        self.assertEqual(one["groups"], ["Lab A"])
        for path, part in [("/api/v1/units?limit=0", b"from 1 to 10000"),
                           ("/api/v1/units?limit=10001", b"from 1 to 10000"),
                           ("/api/v1/groups?offset=-1", b"'offset' takes"),
                           ("/api/v1/queue?limit=1&limit=2", b"'limit' is given twice"),
                           ("/api/v1/units?page=2", b"unknown parameter 'page'")]:
            with self.subTest(path=path):
                status, body, _, _ = self.get(path)
                self.assertEqual(status, 400)
                self.assertIn(part, body)


class QueueWaitTest(unittest.TestCase):
    """A command's answer behind exchanges that each take the whole connect limit."""

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="kaviod-wait-")
        self.env = private_environment(self.home)
        # Units take turns: a command waits behind one exchange of each unit ahead of it, so
        # every slow exchange ahead is another unit's.
        self.holes = [BlackHole("127.0.0.%d" % (10 + n)) for n in range(4)]
        self.unit = RecordingUnit("127.0.0.2", b"ON")
        self.database = os.path.join(self.home, "units.db")
        with sqlite3.connect(self.database) as db:
            db.executescript(SCHEMA)
        self.clients = []

    def tearDown(self):
        self.service.stop()
        for hole in self.holes:
            hole.close()
        for client in self.clients:
            client.join(30)
        shutil.rmtree(self.home, ignore_errors=True)

    def start(self):
        with sqlite3.connect(self.database) as db:
            db.execute('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                       "VALUES ('pdu-a', '127.0.0.2', ?, 'pw')", (self.unit.port,))
        self.service = Service(self.home, self.database, "--http", "127.0.0.1:0", env=self.env)
        self.base = "http://127.0.0.1:%d" % self.service.http_port()

    def add_holes(self, count):
        with sqlite3.connect(self.database) as db:
            for n in range(count):
                db.execute('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                           "VALUES (?, ?, ?, 'pw')",
                           ("hole%d" % n, "127.0.0.%d" % (10 + n), self.holes[n].port))

    def ask_holes(self, count):
        for n in range(count):
            client = threading.Thread(target=request, args=(self.base, "POST",
                                                            "/api/v1/units/hole%d/query" % n))
            client.start()
            self.clients.append(client)
        deadline = time.monotonic() + 10
        while json.loads(request(self.base, "GET", "/api/v1/queue")[1])["count"] < count:
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.05)

    def test_an_answer_waits_past_the_idle_limit(self):
        # The first poll meets the hole first: the queue expects slow exchanges.
        self.add_holes(2)
        self.start()
        self.assertEqual(self.unit.wait_frames(1, 20), [b"\x1bpw\x1bq\r"])
        HttpAnswersTest.wait_quiet(self.base, 30)
        self.ask_holes(2)
        status, body, _, took = request(self.base, "PUT", "/api/v1/units/pdu-a/value", b"1")
        self.assertEqual((status, body), (200, b""))
        self.assertGreater(took, 10.0)
        self.assertEqual(self.unit.frames[-1], b"\x1bpw\x1bn\r")

    def test_an_answer_the_queue_cannot_give_in_time_is_503(self):
        # Fast exchanges so far: the queue expects the next to be fast too.
        self.start()
        self.assertEqual(self.unit.wait_frames(1), [b"\x1bpw\x1bq\r"])
        HttpAnswersTest.wait_quiet(self.base)
        self.add_holes(4)
        self.ask_holes(4)
        before = len(self.unit.frames)
        status, body, headers, took = request(self.base, "PUT", "/api/v1/units/pdu-a/value",
                                              b"1")
        self.assertEqual(status, 503, body)
        self.assertIn(b"the command is still queued", body)
        self.assertGreaterEqual(int(headers["Retry-After"]), 1)
        self.assertLess(took, 19.0)
        self.assertEqual(len(self.unit.frames), before)
        queue = json.loads(request(self.base, "GET", "/api/v1/queue")[1])
        self.assertEqual([(e["name"], e["command"]) for e in queue["entries"]][-1],
                         ("pdu-a", "on"))
        self.assertTrue(all(e["estimated_start"] is None or e["estimated_start"].endswith("Z")
                            for e in queue["entries"]))
        self.assertTrue(queue["entries"][-1]["estimated_start"].endswith("Z"))


if __name__ == "__main__":
    unittest.main()
