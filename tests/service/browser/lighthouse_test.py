#!/usr/bin/python3
"""The stamp maker page under Lighthouse 12.2.3 (npm, pinned by scripts/web-tools/package-lock.json)
driving Debian's chromium, against the real stampd on a free port: desktop and mobile.

Accessibility, best practices and SEO must be 100: they do not depend on how busy the machine
is. The performance score does (it is timed on cores shared with whatever else runs), so it is
printed here and measured by scripts/bench-web.sh, never asserted.

Usage: lighthouse_test.py [--stampd PATH] [unittest options]"""

import json
import os
import subprocess
import sys
import tempfile
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import CHROMIUM, Stampd, find_stampd, web_tools  # noqa: E402

STAMPD = None
def lighthouse(tools, url, form_factor):
    """One Lighthouse run: the report's scores and metrics."""
    with tempfile.TemporaryDirectory() as folder:
        report = os.path.join(folder, "report.json")
        command = ["node", os.path.join(tools, "node_modules", "lighthouse", "cli", "index.js"), url,
                   "--quiet", "--output=json", f"--output-path={report}",
                   "--only-categories=performance,accessibility,best-practices,seo",
                   "--chrome-flags=--headless=new --no-sandbox --disable-gpu --disable-dev-shm-usage"]
        if form_factor == "desktop":
            command.append("--preset=desktop")
        done = subprocess.run(command, env={**os.environ, "CHROME_PATH": CHROMIUM}, capture_output=True,
                              text=True, timeout=240)
        if done.returncode != 0 or not os.path.exists(report):
            raise AssertionError(f"lighthouse could not run ({done.returncode}): {done.stderr[-3000:]}")
        with open(report) as f:
            r = json.load(f)
    scores = {k: v["score"] for k, v in r["categories"].items()}
    metrics = {k: r["audits"][k]["numericValue"] for k in
               ["first-contentful-paint", "largest-contentful-paint", "total-blocking-time",
                "cumulative-layout-shift", "speed-index"]}
    failing = sorted(a["id"] for a in r["audits"].values()
                     if a.get("score") is not None and a["score"] < 1 and a.get("scoreDisplayMode") == "binary")
    return scores, metrics, failing


def report(scores, metrics, failing):
    """One run's scores and timings as a line."""
    return (", ".join(f"{k} {round(v * 100)}" for k, v in scores.items()) +
            "; FCP {first-contentful-paint:.0f} ms, LCP {largest-contentful-paint:.0f} ms, "
            "TBT {total-blocking-time:.0f} ms, CLS {cumulative-layout-shift:.3f}, "
            "SI {speed-index:.0f} ms".format(**metrics) + (f"; failing audits: {failing}" if failing else ""))


class Lighthouse(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tools = web_tools()
        cls.service = Stampd(STAMPD)
        # The service draws the first screen's thumbnails once; every run then finds them drawn.
        urllib.request.urlopen(cls.service.base + "templates.json").read()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def check(self, form_factor):
        scores, metrics, failing = lighthouse(self.tools, self.service.base, form_factor)
        print(f"{form_factor}: " + report(scores, metrics, failing), flush=True)
        for category in ["accessibility", "best-practices", "seo"]:
            self.assertEqual(scores[category], 1, f"{form_factor} {category}: failing audits {failing}")

    def test_desktop(self):
        self.check("desktop")

    def test_mobile(self):
        self.check("mobile")


if __name__ == "__main__":
    STAMPD = find_stampd(sys.argv)
    unittest.main(verbosity=2)
