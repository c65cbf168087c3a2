#!/usr/bin/env python3
"""kaviod's HTTP connections over loopback: which Host and which site it answers, in what order,
when a connection ends, and how crowds and slow clients share it."""

import os
import resource
import selectors
import shutil
import socket
import sqlite3
import stat
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

from test_kaviod import KAVIOD, SCHEMA, private_environment, RecordingUnit, SWITCHES, Service, SilentUnit


def head_and_body(answer):
    head, _, body = answer.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(b":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers, body


def answers_of(data, heads):
    """Splits the answers off the front of `data`, one for each request; `heads` tells which
    requests were HEAD, whose answers carry a Content-Length but no body."""
    result = []
    for head_request in heads:
        head, separator, rest = data.partition(b"\r\n\r\n")
        if not separator:
            break
        status, headers, _ = head_and_body(head + b"\r\n\r\n")
        length = 0 if head_request else int(headers.get(b"content-length", b"0"))
        result.append((status, rest[:length], headers))
        data = rest[length:]
    return result, data


class HttpConnectionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="kaviod-conn-")
        cls.env = private_environment(cls.home)
        cls.unit = RecordingUnit("127.0.0.2", SWITCHES)
        cls.slow = RecordingUnit("127.0.0.3", b"OFF", delay=0.3)
        cls.database = os.path.join(cls.home, "units.db")
        with sqlite3.connect(cls.database) as db:
            db.executescript(SCHEMA)
            db.executemany('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                           "VALUES (?, ?, ?, 'pw')",
                           [("near", "127.0.0.2", cls.unit.port),
                            ("slow", "127.0.0.3", cls.slow.port)])
        cls.service = Service(cls.home, cls.database, "--http", "127.0.0.1:0", "--http-host",
                              "kavio.lab.example", "--http-host", "Bench-7", env=cls.env)
        cls.port = cls.service.http_port()
        cls.unit.wait_frames(1)
        cls.slow.wait_frames(1)
        time.sleep(0.8)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        shutil.rmtree(cls.home, ignore_errors=True)

    def exchange(self, data, timeout=15):
        """Sends `data` on one connection; the bytes until the service closes it and how long
        that took."""
        started = time.monotonic()
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as connection:
            connection.sendall(data)
            answer = b""
            while True:
                try:
                    chunk = connection.recv(65536)
                except OSError:
                    break
                if not chunk:
                    break
                answer += chunk
        return answer, time.monotonic() - started

    def get(self, path, headers):
        lines = "".join("%s: %s\r\n" % item for item in headers.items())
        answer, _ = self.exchange(("GET %s HTTP/1.1\r\n%sConnection: close\r\n\r\n" %
                                   (path, lines)).encode())
        return head_and_body(answer)

    def test_host_and_site_of_a_request(self):
        port = self.port
        cases = [
            # (headers, status)
            ({"Host": "127.0.0.1:%d" % port}, b"200"),
            ({"Host": "localhost:%d" % port}, b"200"),
            ({"Host": "LocalHost:%d" % port}, b"200"),
            ({"Host": "kavio.lab.example:%d" % port}, b"200"),
            ({"Host": "bench-7:%d" % port}, b"200"),
            ({"Host": "evil.example:%d" % port}, b"421"),
            ({"Host": "kavio.lab.example.evil:%d" % port}, b"421"),
            ({"Host": "127.0.0.2:%d" % port}, b"421"),
            ({"Host": "2130706433:%d" % port}, b"421"),
            ({"Host": "127.0.0.1:%d" % (port + 1)}, b"421"),
            ({"Host": "127.0.0.1"}, b"421"),
            ({"Host": "127.0.0.1:%d:1" % port}, b"421"),
            ({}, b"421"),
            ({"Host": "localhost:%d" % port, "Sec-Fetch-Site": "cross-site"}, b"403"),
            ({"Host": "localhost:%d" % port, "Sec-Fetch-Site": "same-site"}, b"403"),
            ({"Host": "localhost:%d" % port, "Sec-Fetch-Site": "same-origin"}, b"200"),
            ({"Host": "localhost:%d" % port, "Sec-Fetch-Site": "none"}, b"200"),
            ({"Host": "localhost:%d" % port, "Origin": "http://localhost:%d" % port}, b"200"),
            ({"Host": "localhost:%d" % port, "Origin": "http://127.0.0.1:%d" % port}, b"403"),
            ({"Host": "localhost:%d" % port, "Origin": "http://localhost:%d" % (port + 1)},
             b"403"),
            ({"Host": "localhost:%d" % port, "Origin": "https://localhost:%d" % port}, b"403"),
            ({"Host": "localhost:%d" % port, "Origin": "null"}, b"403"),
            ({"Host": "localhost:%d" % port, "Origin": "http://evil.example"}, b"403"),
        ]
        before = len(self.unit.frames)
        for headers, status in cases:
            for path in ("/api/v1/units/near", "/power/control/off?hostname=near&port=1"):
                with self.subTest(headers=headers, path=path):
                    line, answer_headers, _ = self.get(path, headers)
                    self.assertEqual(line.split(b" ")[1], status, line)
                    self.assertFalse([h for h in answer_headers
                                      if h.startswith(b"access-control-allow")])
        switches = [status for _, status in cases if status == b"200"]
        # Only the accepted PDUDaemon requests reached the unit, each one "off".
        frames = self.unit.wait_frames(before + len(switches), timeout=10)[before:]
        time.sleep(0.3)
        self.assertEqual(self.unit.frames[before:], [b"\x1bpw\x1bf\r"] * len(switches))
        self.assertEqual(frames, [b"\x1bpw\x1bf\r"] * len(switches))
        log = self.service.log()
        self.assertIn("HTTP 421 to 127.0.0.1: Host evil.example:%d is not this service" % port,
                      log)
        self.assertIn("HTTP 403 to 127.0.0.1: a request from another site "
                      "(Sec-Fetch-Site: cross-site)", log)

    def test_answers_keep_the_order_of_pipelined_requests(self):
        host = "Host: 127.0.0.1:%d\r\n" % self.port
        # The first waits for a unit that answers after 0.3 s; the others could be answered
        # at once.
        data = ("POST /api/v1/units/slow/query HTTP/1.1\r\n%sContent-Length: 0\r\n\r\n"
                "GET /api/v1/units/near HTTP/1.1\r\n%s\r\n"
                "HEAD /api/v1/units/near HTTP/1.1\r\n%s\r\n"
                "GET /api/v1/units/nobody HTTP/1.1\r\n%sConnection: close\r\n\r\n" %
                (host, host, host, host)).encode()
        answer, _ = self.exchange(data)
        answers, left = answers_of(answer, [False, False, True, False])
        self.assertEqual([a[0].split(b" ")[1] for a in answers], [b"200", b"200", b"200", b"404"])
        self.assertEqual(left, b"")
        self.assertIn(b'"reply": "OFF"', answers[0][1])
        self.assertIn(b'"name": "near"', answers[1][1])
        # HEAD: GET's head, with its Content-Length, and no body.
        self.assertEqual(answers[2][2][b"content-length"], answers[1][2][b"content-length"])
        self.assertIn(b"no unit named", answers[3][1])
        # More requests ahead of their answers than a connection may have: those beyond the
        # limit are refused, in their turn, and the connection ends.
        burst = (b"GET /api/v1/units/near HTTP/1.1\r\n" + host.encode() + b"\r\n") * 40
        answer, _ = self.exchange(burst)
        answers, left = answers_of(answer, [False] * 33)
        self.assertEqual([a[0] for a in answers],
                         [b"HTTP/1.1 200 OK"] * 32 + [b"HTTP/1.1 429 Too Many Requests"])
        self.assertEqual(left, b"")

    def test_methods_allowed_and_head(self):
        cases = [
            # (method, path, status, Allow)
            ("DELETE", "/api/v1/units/near", b"405", b"GET, HEAD"),
            ("POST", "/metrics", b"405", b"GET, HEAD"),
            ("GET", "/api/v1/units/near/on", b"405", b"POST"),
            ("POST", "/api/v1/units/near/value", b"405", b"GET, HEAD, PUT"),
            ("HEAD", "/power/control/on?hostname=near&port=1", b"405", b"GET"),
            ("PUT", "/power/control/on?hostname=near&port=1", b"405", b"GET"),
        ]
        before = len(self.unit.frames)
        for method, path, status, allow in cases:
            with self.subTest(method=method, path=path):
                answer, _ = self.exchange(("%s %s HTTP/1.1\r\nHost: localhost:%d\r\n"
                                           "Content-Length: 0\r\nConnection: close\r\n\r\n" %
                                           (method, path, self.port)).encode())
                line, headers, _ = head_and_body(answer)
                self.assertEqual((line.split(b" ")[1], headers.get(b"allow")), (status, allow))
        for path in ("/api/v1/units/near", "/api/v1/units/near/value", "/metrics"):
            with self.subTest(path=path):
                got = urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.port, path),
                                             timeout=10)
                body = got.read()
                answer, _ = self.exchange(("HEAD %s HTTP/1.1\r\nHost: localhost:%d\r\n"
                                           "Connection: close\r\n\r\n" % (path, self.port))
                                          .encode())
                line, headers, rest = head_and_body(answer)
                self.assertEqual((line, rest), (b"HTTP/1.1 200 OK", b""))
                if path != "/metrics":
                    self.assertEqual(int(headers[b"content-length"]), len(body))
        time.sleep(0.3)
        self.assertEqual(self.unit.frames[before:], [])

    def test_unfinished_heads_refused_at_once(self):
        cases = [
            (b"\r\nHost: a", b"HTTP/1.1 400 "),
            (b"GARBAGE\r\nHost: a", b"HTTP/1.1 400 "),
            (b"GET / HTTP/1.1\r\nX: " + b"a" * 8200, b"HTTP/1.1 431 "),
            (b"GET / HTTP/1.1\r\nX: " + b"a" * 8170 + b"\r\n\r\n", b"HTTP/1.1 431 "),
            (b"POST / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", b"HTTP/1.1 413 "),
        ]
        for data, status in cases:
            with self.subTest(data=data[:30]):
                answer, took = self.exchange(data, timeout=5)
                self.assertTrue(answer.startswith(status), answer[:60])
                self.assertLess(took, 4)
        # Just within the limits: served.
        head = b"GET /api/v1/units/near HTTP/1.1\r\nConnection: close\r\nHost: localhost:%d\r\n" % (
            self.port)
        answer, _ = self.exchange(head + b"X: " + b"a" * (8192 - len(head) - 7) + b"\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 "), answer[:60])

    def test_connection_close_and_http10_end_after_the_answer(self):
        cases = [
            (b"GET /api/v1/units/near HTTP/1.0\r\n\r\n", True),
            (b"GET /api/v1/units/near HTTP/1.0\r\nHost: localhost:%d\r\n\r\n" % self.port, True),
            (b"GET /api/v1/units/near HTTP/1.1\r\nHost: localhost:%d\r\n"
             b"Connection: Close\r\n\r\n" % self.port, True),
            (b"GET /api/v1/units/near HTTP/1.0\r\nHost: localhost:%d\r\n"
             b"Connection: keep-alive\r\n\r\n" % self.port, False),
        ]
        for data, closes in cases:
            with self.subTest(data=data):
                with socket.create_connection(("127.0.0.1", self.port), timeout=3) as connection:
                    connection.sendall(data)
                    answer = b""
                    ended = False
                    try:
                        while True:
                            chunk = connection.recv(65536)
                            if not chunk:
                                ended = True
                                break
                            answer += chunk
                    except socket.timeout:
                        pass
                self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer[:60])
                self.assertEqual(ended, closes)
                self.assertEqual(b"Connection: close\r\n" in answer, closes)

    def test_a_burst_of_connections_gets_every_answer(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 4096), hard))
        count = 1000
        request = (b"GET /api/v1/units/near HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                   b"Connection: close\r\n\r\n" % self.port)
        selector = selectors.DefaultSelector()
        answers = {}
        for number in range(count):
            connection = socket.create_connection(("127.0.0.1", self.port), timeout=10)
            connection.sendall(request)
            connection.setblocking(False)
            answers[number] = b""
            selector.register(connection, selectors.EVENT_READ, number)
        deadline = time.monotonic() + 60
        open_ones = count
        while open_ones and time.monotonic() < deadline:
            for key, _ in selector.select(timeout=1):
                try:
                    chunk = key.fileobj.recv(65536)
                except OSError:
                    chunk = b""
                if chunk:
                    answers[key.data] += chunk
                    continue
                selector.unregister(key.fileobj)
                key.fileobj.close()
                open_ones -= 1
        for key in list(selector.get_map().values()):
            key.fileobj.close()
        statuses = [a.split(b"\r\n", 1)[0] for a in answers.values()]
        self.assertEqual(statuses.count(b"HTTP/1.1 200 OK"), count,
                         sorted(set(statuses)))


class CrowdAndStartTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="kaviod-crowd-")
        self.env = private_environment(self.home)
        self.database = os.path.join(self.home, "units.db")
        with sqlite3.connect(self.database) as db:
            db.executescript(SCHEMA)
        self.token = os.path.join(self.home, "token")
        with open(self.token, "w") as handle:
            handle.write("t0ken-value\n")
        os.chmod(self.token, 0o600)

    def tearDown(self):
        shutil.rmtree(self.home, ignore_errors=True)

    def start(self, *arguments):
        return subprocess.run([KAVIOD, "--database", self.database, "--http", "127.0.0.1:0",
                               *arguments], capture_output=True, env=self.env, timeout=20)

    def test_slow_clients_keep_no_token_holder_out(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 4096), hard))
        service = Service(self.home, self.database, "--http", "127.0.0.1:0",
                          "--http-token-file", self.token, env=self.env)
        slow = []
        stop = threading.Event()
        try:
            port = service.http_port()
            head = b"GET /api/v1/units HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % port
            # More slow clients than the service takes at once, each sending a byte now and
            # then and never finishing its head, as long as the test runs.
            for _ in range(200):
                slow.append(socket.create_connection(("127.0.0.1", port), timeout=5))

            def trickle():
                position = 0
                while not stop.is_set():
                    for connection in list(slow):
                        try:
                            connection.send(head[position % len(head):][:1])
                        except OSError:
                            slow.remove(connection)
                            connection.close()
                    position += 1
                    stop.wait(0.3)
            threading.Thread(target=trickle, daemon=True).start()
            time.sleep(1.5)
            started = time.monotonic()
            req = urllib.request.Request("http://127.0.0.1:%d/api/v1/units" % port,
                                         headers={"Authorization": "bearer t0ken-value"})
            with urllib.request.urlopen(req, timeout=30) as answer:
                self.assertEqual(answer.status, 200)
            self.assertLess(time.monotonic() - started, 8)
        finally:
            stop.set()
            for connection in slow:
                connection.close()
        try:
            # However often it sends a byte, a request has 10 s in all from its first byte.
            lone = socket.create_connection(("127.0.0.1", port), timeout=5)
            lone.setblocking(False)
            started = time.monotonic()
            answer = b""
            position = 0
            while not answer and time.monotonic() - started < 25:
                try:
                    lone.send(head[position % len(head):][:1])
                except OSError:
                    pass
                position += 1
                time.sleep(0.5)
                try:
                    answer += lone.recv(4096)
                except BlockingIOError:
                    pass
                except OSError:
                    break
            waited = time.monotonic() - started
            lone.close()
            self.assertTrue(answer.startswith(b"HTTP/1.1 408 "), answer[:60])
            self.assertGreater(waited, 9)
            self.assertLess(waited, 16)
            self.assertIn("a request not complete within 10 s", service.log())
        finally:
            service.stop()

    def test_room_is_made_by_the_connection_that_sent_least(self):
        silent = SilentUnit("127.0.0.8")
        with sqlite3.connect(self.database) as db:
            db.executemany('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                           "VALUES (?, '127.0.0.8', ?, '')",
                           [("mute%d" % n, silent.server.getsockname()[1]) for n in range(4)])
            db.execute('INSERT INTO "Master" ("Name", "Group") VALUES (\'quiet\', 1)')
            db.executemany('INSERT INTO "Group" VALUES (5, ?)', [(n,) for n in range(1, 5)])
        service = Service(self.home, self.database, "--http", "127.0.0.1:0", env=self.env)
        connections = []
        try:
            port = service.http_port()
            # The first poll asks each silent unit in turn and is over by then.
            time.sleep(3.5)
            part = b"GET /api/v1/units HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % port
            # A full house: one connection waiting for its answer (four silent units, half a
            # second each) and one that sent nothing, both with nothing more to send; the
            # others part of a head.
            busy = socket.create_connection(("127.0.0.1", port), timeout=10)
            busy.sendall(b"POST /api/v1/groups/quiet/query HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                         b"Content-Length: 0\r\n\r\n" % port)
            # Connected well before the quiet one: of the two, it has waited longer.
            time.sleep(0.3)
            quiet = socket.create_connection(("127.0.0.1", port), timeout=10)
            for _ in range(126):
                connection = socket.create_connection(("127.0.0.1", port), timeout=10)
                connection.sendall(part)
                connections.append(connection)
            time.sleep(1.0)
            started = time.monotonic()
            with urllib.request.urlopen("http://127.0.0.1:%d/api/v1/units" % port,
                                        timeout=10) as answer:
                self.assertEqual(answer.status, 200)
            self.assertLess(time.monotonic() - started, 5)
            self.assertTrue(quiet.recv(4096).startswith(b"HTTP/1.1 408 "))
            quiet.close()
            # Nobody else was closed for it.
            for connection in connections:
                connection.setblocking(False)
                with self.assertRaises(BlockingIOError):
                    connection.recv(4096)
            self.assertEqual(service.log().count("closed to make room"), 1)
            # The one under way is answered in full: 502, as no unit answered.
            self.assertTrue(busy.recv(4096).startswith(b"HTTP/1.1 502 "))
            busy.close()
        finally:
            for connection in connections:
                connection.close()
            service.stop()

    def test_start_refuses_bad_token_and_tls_files(self):
        fifo = os.path.join(self.home, "fifo")
        os.mkfifo(fifo, 0o600)
        result = self.start("--http-token-file", fifo)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"is not a regular file", result.stderr)
        if not shutil.which("openssl"):
            self.skipTest("openssl is not installed")
        keys = []
        for name in ("a", "b"):
            key, cert = (os.path.join(self.home, name + ".key"),
                         os.path.join(self.home, name + ".pem"))
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                            "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out",
                            cert, "-days", "2", "-subj", "/CN=127.0.0.1"],
                           capture_output=True, check=True)
            keys.append((key, cert))
        result = self.start("--tls-cert", keys[0][1], "--tls-key", keys[1][0])
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"does not go with the certificate", result.stderr)
        # An expired certificate is served, with a warning.
        ca = os.path.join(self.home, "ca")
        os.mkdir(ca)
        with open(os.path.join(ca, "ca.cnf"), "w") as handle:
            handle.write("[ca]\ndefault_ca=d\n[d]\ndatabase=index.txt\nnew_certs_dir=.\n"
                         "serial=serial\ndefault_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n")
        open(os.path.join(ca, "index.txt"), "w").close()
        with open(os.path.join(ca, "serial"), "w") as handle:
            handle.write("01\n")
        subprocess.run(["openssl", "req", "-new", "-key", keys[0][0], "-out", "r.csr", "-subj",
                        "/CN=127.0.0.1"], cwd=ca, capture_output=True, check=True)
        subprocess.run(["openssl", "ca", "-selfsign", "-batch", "-notext", "-keyfile", keys[0][0],
                        "-in", "r.csr", "-out", "old.pem", "-startdate", "20200101000000Z",
                        "-enddate", "20200102000000Z", "-config", "ca.cnf"],
                       cwd=ca, capture_output=True, check=True)
        service = Service(self.home, self.database, "--http", "127.0.0.1:0", "--tls-cert",
                          os.path.join(ca, "old.pem"), "--tls-key", keys[0][0], env=self.env)
        try:
            self.assertTrue(service.wait_for("HTTPS on 127.0.0.1:"), service.log())
            self.assertIn("Warning: the TLS certificate %s expired on 2020-01-02" %
                          os.path.join(ca, "old.pem"), service.log())
            port = service.log().split("HTTPS on 127.0.0.1:")[1].split()[0]
            secure = subprocess.run(["curl", "-sk", "-o", "/dev/null", "-w", "%{http_code}",
                                     "https://127.0.0.1:%s/api/v1/units" % port],
                                    capture_output=True, timeout=15)
            self.assertEqual(secure.stdout, b"200")
        finally:
            service.stop()


if __name__ == "__main__":
    unittest.main()
