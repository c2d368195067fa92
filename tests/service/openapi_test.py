#!/usr/bin/python3
"""stampd's API description against the service itself: /openapi.json is the repository's
service/web/page/openapi.json, valid OpenAPI 3.1, and every endpoint's real answers (good and
refused) fit what it describes, checked by real validators from the project's npm lock
(tests/service/openapi/check_openapi.mjs: @seriousme/openapi-schema-validator for the
document, Ajv for the answers); so are the README's example requests.

Usage: openapi_test.py [--stampd PATH]"""

import json
import os
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(HERE, "browser"))
from browser_support import Stampd, find_stampd, web_tools  # noqa: E402

STAMPD = None
q = urllib.parse.quote
COMPANY = q("天宝印章制作有限公司")
DESIGN = "v=1&shape=round&t=" + COMPANY + "&c=star&l1=" + q("合同专用章") + "&k=9131000012345"
DESIGN_JSON = json.dumps({"version": 1, "shape": "oval", "text": {"value": "天宝印章有限公司", "font": "hei"},
                          "centre": {"kind": "star"}, "lines": [{"value": "财务专用章"}], "code": {"value": ""}},
                         ensure_ascii=False)

# Every endpoint, with answers of each kind it gives: (method, target, body, the status meant).
REQUESTS = [
    ("GET", "/aosbegin.php?text=" + q("张三") + "&id=368&signsize=0&rnd=0.3", None, 200),
    ("GET", "/aosbegin.php?text=a&id=368", None, 400),
    ("GET", "/aosbegin.php?text=" + q("张三") + "&id=99999", None, 400),
    ("GET", "/stamp/368/0/" + q("张三") + ".png", None, 200),
    ("GET", "/stamp/368/300/" + q("张三") + ".svg", None, 200),
    ("GET", "/stamp/365/300/" + COMPANY + ".pdf", None, 200),
    ("GET", "/stamp/368/0/a.png", None, 400),
    ("GET", "/stamp/99999/0/ab.png", None, 404),
    ("GET", "/maker/thumbnails/C_1350448345617.png", None, 200),
    ("GET", "/maker/thumbnails/C_1297909472318.jpg", None, 200),
    ("GET", "/maker/thumbnails/128/1297845514265.gif", None, 200),
    ("GET", "/maker/thumbnails/none.png", None, 404),
    ("GET", "/check/md5.php?message=kwpn", None, 200),
    ("GET", "/templates.json", None, 200),
    ("GET", "/glyphs?text=" + q("😀公司"), None, 200),
    ("GET", "/glyphs?text=%FF", None, 400),
    ("GET", "/design.png?" + DESIGN + "&px=300", None, 200),
    ("GET", "/design.svg?" + DESIGN, None, 200),
    ("GET", "/design.pdf?" + DESIGN, None, 200),
    ("GET", "/design.png?w=99&tf=comic", None, 400),
    ("GET", "/design.json?v=1&shape=round&t=" + COMPANY + "&tf=noto-serif&tw=900&l1=" + q("合同专用章") +
     "&l1f=noto-sans&l1w=300", None, 200),
    ("GET", "/design.json?v=1&shape=round&t=" + COMPANY + "&tf=noto-serif&tw=650", None, 400),
    ("GET", "/design.json?" + DESIGN, None, 200),
    ("GET", "/design.json?v=1&shape=round&t=" + COMPANY + "&ts=99", None, 400),
    ("POST", "/design.png?px=200", DESIGN_JSON, 200),
    ("POST", "/design.svg", DESIGN_JSON, 200),
    ("POST", "/design.pdf", DESIGN_JSON, 200),
    ("POST", "/design.json", DESIGN_JSON, 200),
    ("POST", "/design.json", json.dumps({"version": 1, "shape": "hexagon"}), 400),
    ("POST", "/design.svg", "{" + " " * 9000 + "}", 413),
    ("GET", "/design/template.json?id=365&text=" + COMPANY, None, 200),
    ("GET", "/design/template.json?id=99999", None, 404),
    ("GET", "/design/fonts.json", None, 200),
    ("GET", "/", None, 200),
    ("GET", "/index.html", None, 200),
    ("GET", "/maker.js", None, 200),
    ("GET", "/maker.css", None, 200),
    ("GET", "/designer.html", None, 200),
    ("GET", "/designer.js", None, 200),
    ("GET", "/designer.css", None, 200),
    ("GET", "/openapi.json", None, 200),
    ("GET", "/favicon.ico", None, 200),
    ("GET", "/download", None, 200),
    ("GET", "/download/Tambrel-1.0-setup.exe", None, 404),
    ("GET", "/healthz", None, 200),
    ("GET", "/metrics", None, 200),
]


class ApiDescription(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Stampd(STAMPD)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def exchange(self, method, target, body=None, headers=None):
        data = body.encode() if body is not None else None
        request = urllib.request.Request(self.service.base.rstrip("/") + target, data=data, method=method,
                                         headers=dict(headers or {}, **({"Content-Type": "application/json"} if data else {})))
        try:
            with urllib.request.urlopen(request, timeout=30) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()

    def test_served_description_is_the_repositorys(self):
        status, headers, body = self.exchange("GET", "/openapi.json")
        self.assertEqual(status, 200)
        self.assertTrue(headers["Content-Type"].startswith("application/json"))
        with open(os.path.join(ROOT, "service", "web", "page", "openapi.json"), "rb") as f:
            self.assertEqual(body, f.read())

    def test_every_answer_and_readme_example_fits_the_description(self):
        exchanges = []
        for method, target, body, meant in REQUESTS:
            status, headers, answer = self.exchange(method, target, body)
            # A case that no longer gives its answer has stopped testing what it was chosen for.
            self.assertEqual(status, meant, f"{method} {target}")
            kind = headers.get("Content-Type", "")
            text = answer.decode("utf-8") if kind.startswith(("text/", "application/json")) else ""
            exchanges.append({"method": method, "target": target, "status": status, "contentType": kind,
                              "body": text, **({"requestBody": body} if body is not None else {})})
        # A revalidation: 304 with no body.
        _, headers, _ = self.exchange("GET", "/designer.html")
        status, headers, answer = self.exchange("GET", "/designer.html", headers={"If-None-Match": headers["ETag"]})
        self.assertEqual(status, 304)
        exchanges.append({"method": "GET", "target": "/designer.html", "status": status,
                          "contentType": headers.get("Content-Type", ""), "body": answer.decode()})
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
            json.dump(exchanges, f, ensure_ascii=False)
        try:
            done = subprocess.run(["node", os.path.join(HERE, "openapi", "check_openapi.mjs"), web_tools(),
                                   os.path.join(ROOT, "service", "web", "page", "openapi.json"), f.name,
                                   os.path.join(ROOT, "README.md")], capture_output=True, text=True, timeout=120)
        finally:
            os.unlink(f.name)
        print(done.stdout.strip().splitlines()[-1] if done.stdout.strip() else done.stderr[-2000:], file=sys.stderr)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


if __name__ == "__main__":
    STAMPD = find_stampd(sys.argv)
    unittest.main()
