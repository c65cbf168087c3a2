#!/usr/bin/python3
"""A web page in a real browser (headless Chromium, driven by Selenium) tries to switch units
through kaviod's loopback HTTP interface from another loopback origin, in each way a page can
send a request. kaviod must refuse every one, while curl and urllib still switch."""

import functools
import http.server
import os
import shutil
import sqlite3
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request

from test_kaviod import SCHEMA, private_environment, RecordingUnit, SWITCHES, Service

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

PAGE = """<!doctype html>
<html><head><title>page</title></head><body>
<img src="http://127.0.0.1:{port}/power/control/off?hostname=v1&port=1">
<iframe name="sink"></iframe>
<form id="form" method="POST" target="sink"
      action="http://127.0.0.1:{port}/api/v1/units/v3/off"><input name="x" value="1"></form>
<script>
fetch("http://127.0.0.1:{port}/api/v1/units/v2/off", {{method: "POST", mode: "no-cors"}})
    .catch(() => {{}});
fetch("http://localhost:{port}/power/control/off?hostname=v4&port=1", {{mode: "no-cors"}})
    .catch(() => {{}});
document.getElementById("form").submit();
</script>
</body></html>
"""

OFF_FRAME = b"\x1bpw\x1bf\r"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *arguments):
        pass


class BrowserOriginTest(unittest.TestCase):
    def setUp(self):
        # A missing browser is a failure, not a skip: CI installs it (scripts/install-deps.sh).
        for program in (CHROMIUM, CHROMEDRIVER):
            self.assertTrue(os.access(program, os.X_OK),
                            "%s is missing: run scripts/install-deps.sh" % program)
        try:
            from selenium import webdriver  # noqa: F401
        except ImportError:
            self.fail("python3-selenium is missing: run scripts/install-deps.sh")
        self.home = tempfile.mkdtemp(prefix="kaviod-origin-")
        self.env = private_environment(self.home)
        self.units = [RecordingUnit("127.0.0.%d" % (3 + n), SWITCHES) for n in range(4)]
        self.database = os.path.join(self.home, "units.db")
        with sqlite3.connect(self.database) as db:
            db.executescript(SCHEMA)
            db.executemany('INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password") '
                           "VALUES (?, ?, ?, 'pw')",
                           [("v%d" % (n + 1), "127.0.0.%d" % (3 + n), unit.port)
                            for n, unit in enumerate(self.units)])
        self.service = Service(self.home, self.database, "--http", "127.0.0.1:0", env=self.env)
        self.port = self.service.http_port()
        for unit in self.units:
            unit.wait_frames(1)
        site = os.path.join(self.home, "site")
        os.mkdir(site)
        with open(os.path.join(site, "page.html"), "w") as handle:
            handle.write(PAGE.format(port=self.port))
        self.site = http.server.ThreadingHTTPServer(
            ("127.0.0.2", 0), functools.partial(QuietHandler, directory=site))
        threading.Thread(target=self.site.serve_forever, daemon=True).start()

    def tearDown(self):
        self.site.shutdown()
        self.site.server_close()
        self.service.stop()
        shutil.rmtree(self.home, ignore_errors=True)

    def browse(self, url):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service as DriverService
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         "--disable-dev-shm-usage", "--no-first-run", "--no-proxy-server",
                         "--user-data-dir=" + os.path.join(self.home, "chromium")):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=DriverService(CHROMEDRIVER), options=options)
        try:
            driver.set_page_load_timeout(30)
            driver.get(url)
            # Every request of the page reached the service and was refused there.
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and self.refusals() < 4:
                time.sleep(0.1)
        finally:
            driver.quit()

    def refusals(self):
        return self.service.log().count("a request from another site")

    def off_frames(self):
        return [[f for f in unit.frames if f == OFF_FRAME] for unit in self.units]

    def test_a_page_of_another_origin_switches_nothing(self):
        self.browse("http://127.0.0.2:%d/page.html" % self.site.server_address[1])
        time.sleep(1)
        self.assertEqual(self.off_frames(), [[], [], [], []])
        self.assertGreaterEqual(self.refusals(), 4, self.service.log())
        for name in ("v1", "v2", "v3", "v4"):
            self.assertIn('"status": "ON"', subprocess.run(
                ["curl", "-s", "http://127.0.0.1:%d/api/v1/units/%s" % (self.port, name)],
                capture_output=True, text=True, timeout=15).stdout)
        # What lab tools send still switches.
        curl = subprocess.run(["curl", "-s", "http://127.0.0.1:%d/power/control/off?"
                               "hostname=v1&port=1" % self.port],
                              capture_output=True, timeout=15)
        self.assertEqual(curl.stdout, b"OK")
        request = urllib.request.Request("http://localhost:%d/api/v1/units/v2/off" % self.port,
                                         method="POST")
        with urllib.request.urlopen(request, timeout=15) as answer:
            self.assertEqual(answer.status, 200)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.off_frames()[0] == []:
            time.sleep(0.05)
        self.assertEqual(self.off_frames(), [[OFF_FRAME], [OFF_FRAME], [], []])


if __name__ == "__main__":
    unittest.main()
