"""Shared by the stamp maker's browser tests and its benchmark: the real stampd on a free port
and headless Chromium (Debian's chromium and chromium-driver) driven through WebDriver."""

import http.client
import http.server
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"

# Headless, as root in CI, with nothing that talks to the outside or keeps state between runs.
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage", "--lang=zh-CN", "--window-size=1280,900",
]


def free_port():
    """A port nothing listens on just now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Stampd:
    """stampd on 127.0.0.1 with a port the system picks (or the one given); stopped with SIGTERM."""

    def __init__(self, binary, *extra, port=0):
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([binary, "--listen", f"127.0.0.1:{port}", "--no-access-log", *extra],
                                        stdout=subprocess.DEVNULL, stderr=self.log)
        deadline = time.monotonic() + 30
        self.base = None
        while time.monotonic() < deadline and self.process.poll() is None:
            self.log.seek(0)
            m = re.search(rb"listening on (http://127\.0\.0\.1:\d+/)", self.log.read())
            if m:
                self.base = m.group(1).decode()
                break
            time.sleep(0.05)
        if not self.base:
            self.stop()
            self.log.seek(0)
            raise RuntimeError("stampd did not start: " + self.log.read().decode(errors="replace"))

    def get(self, path, headers=None):
        """(status, headers, body) of a GET, errors included."""
        request = urllib.request.Request(self.base.rstrip("/") + path, headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=30) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


class FrontProxy:
    """A stand-in in front of stampd on a port of its own: passes every request on, except that
    the test may hold back /aosbegin.php answers for some texts, or give the next ones itself
    (a status, headers and body, or None to drop the connection without an answer), and may
    hold every request under a path until an event is set. It notes every target asked for."""

    def __init__(self, upstream):
        self.upstream = urllib.parse.urlsplit(upstream)
        self.delays = {}    # text (decoded) -> seconds
        self.answers = []   # the next /aosbegin.php answers, in order
        self.holds = {}     # path -> threading.Event: requests for it wait until it is set
        self.targets = []   # every request target, in the order they arrived
        self.lock = threading.Lock()
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                path, _, query = self.path.partition("?")
                with proxy.lock:
                    proxy.targets.append(self.path)
                    gate = proxy.holds.get(path)
                if gate:
                    gate.wait(30)
                if path == "/aosbegin.php":
                    text = urllib.parse.parse_qs(query).get("text", [""])[0]
                    time.sleep(proxy.delays.get(text, 0))
                    with proxy.lock:
                        canned = proxy.answers.pop(0) if proxy.answers else False
                    if canned is None:
                        # An answer cut off on its way: no retry can hide it, unlike a closed socket.
                        self.close_connection = True
                        self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 500\r\n\r\n<stamp>")
                        self.wfile.flush()
                        self.connection.shutdown(socket.SHUT_RDWR)
                        return
                    if canned:
                        status, headers, body = canned
                        self.send_response(status)
                        for k, v in headers.items():
                            self.send_header(k, v)
                        self.send_header("Content-Length", str(len(body)))
                        self.end_headers()
                        self.wfile.write(body)
                        return
                upstream = http.client.HTTPConnection(proxy.upstream.hostname, proxy.upstream.port, timeout=30)
                headers = {k: v for k, v in self.headers.items() if k.lower() not in ("host", "connection")}
                upstream.request("GET", self.path, headers=headers)
                answer = upstream.getresponse()
                body = answer.read()
                self.send_response(answer.status)
                for k, v in answer.getheaders():
                    if k.lower() not in ("connection", "content-length", "server", "date", "transfer-encoding"):
                        self.send_header(k, v)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                upstream.close()

        class Server(http.server.ThreadingHTTPServer):
            daemon_threads = True

            def handle_error(self, request, client_address):
                # The browser going away mid-answer (and the cut-off answers above) is expected.
                if not isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
                    super().handle_error(request, client_address)

        self.server = Server(("127.0.0.1", 0), Handler)
        self.base = f"http://127.0.0.1:{self.server.server_address[1]}/"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class Browser:
    """Headless Chromium with a fresh profile and a download folder of its own."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="tambrel-chromium-")
        self.downloads = tempfile.mkdtemp(prefix="tambrel-downloads-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in CHROMIUM_FLAGS:
            options.add_argument(flag)
        options.add_argument(f"--user-data-dir={self.profile}")
        options.add_experimental_option("prefs", {
            "download.default_directory": self.downloads,
            "download.prompt_for_download": False,
            "safebrowsing.enabled": False,
        })
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads})

    def wait(self, condition, timeout=20, message=""):
        return WebDriverWait(self.driver, timeout, poll_frequency=0.02).until(condition, message)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def open_maker(self, base, query=""):
        self.driver.get(base + query)
        self.wait(lambda d: d.execute_script("return document.documentElement.dataset.ready === '1'"),
                  message="the gallery was not built")

    def downloaded(self, name, timeout=20):
        """The path and bytes of a finished download, or None if none came within timeout."""
        path = os.path.join(self.downloads, name)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path) and not os.path.exists(path + ".crdownload"):
                with open(path, "rb") as f:
                    data = f.read()
                if data:
                    return path, data
            time.sleep(0.05)
        return None

    def quit(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
            shutil.rmtree(self.downloads, ignore_errors=True)


def web_tools():
    """The folder holding the page's audit tools from npm (Lighthouse, axe-core), installed on
    first use by scripts/web-tools.sh at the versions its lock file pins."""
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
    done = subprocess.run(["bash", os.path.join(root, "scripts", "web-tools.sh")], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError("scripts/web-tools.sh failed: " + done.stderr[-2000:])
    return done.stdout.strip().splitlines()[-1]


def find_stampd(argv):
    """The stampd binary: --stampd PATH, $TAMBREL_STAMPD, or the native build."""
    if "--stampd" in argv:
        i = argv.index("--stampd")
        path = argv[i + 1]
        del argv[i:i + 2]
        return path
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
    return os.environ.get("TAMBREL_STAMPD") or os.path.join(root, "build", "native", "service", "stampd")
