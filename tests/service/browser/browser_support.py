"""Shared by the stamp maker's browser tests and its benchmark: the real stampd on a free port
and headless Chromium (Debian's chromium and chromium-driver) driven through WebDriver."""

import os
import re
import shutil
import subprocess
import tempfile
import time
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


class Stampd:
    """stampd on 127.0.0.1 with a port the system picks; stopped with SIGTERM."""

    def __init__(self, binary, *extra):
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--no-access-log", *extra],
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

    def open_maker(self, base):
        self.driver.get(base)
        self.wait(lambda d: d.execute_script("return document.documentElement.dataset.ready === '1'"),
                  message="the gallery was not built")

    def quit(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
            shutil.rmtree(self.downloads, ignore_errors=True)


def find_stampd(argv):
    """The stampd binary: --stampd PATH, $TAMBREL_STAMPD, or the native build."""
    if "--stampd" in argv:
        i = argv.index("--stampd")
        path = argv[i + 1]
        del argv[i:i + 2]
        return path
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
    return os.environ.get("TAMBREL_STAMPD") or os.path.join(root, "build", "native", "service", "stampd")
