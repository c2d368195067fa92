#!/usr/bin/python3
"""The seal designer in a real browser: headless Chromium against the real stampd.

Usage: designer_test.py [--stampd PATH] [--screenshots DIR] [unittest options]"""

import json
import os
import statistics
import sys
import threading
import time
import unittest
import urllib.parse

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import Browser, FrontProxy, Stampd, find_stampd  # noqa: E402

STAMPD = None
SCREENSHOTS = None
COMPANY = "天宝印章制作有限公司"
CODE = "9131000012345"


class DesignerPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Stampd(STAMPD)
        cls.browser = Browser()
        cls.d = cls.browser.driver

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.service.stop()

    def setUp(self):
        self.d.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        for name in os.listdir(self.browser.downloads):
            os.remove(os.path.join(self.browser.downloads, name))

    # Helpers ------------------------------------------------------------------------------

    def js(self, script, *args):
        return self.browser.js(script, *args)

    def open(self, query=""):
        self.d.get(self.service.base + "designer.html" + (("?" + query) if query else ""))
        self.browser.wait(lambda d: d.execute_script("return document.documentElement.dataset.ready === '1'"),
                          message="the designer did not start")
        self.wait_preview()

    def shown(self):
        return int(self.js("return Number(document.documentElement.dataset.previewed || 0)"))

    def wait_preview(self, after=None):
        if after is None:
            self.browser.wait(lambda d: self.shown() > 0, message="no preview")
        else:
            self.browser.wait(lambda d: self.shown() > after, message="the preview did not follow the edit")
        self.browser.wait(lambda d: d.execute_script(
            "const p = document.getElementById('design-preview'); return !p.hidden && p.complete && p.naturalWidth > 0"))

    def query(self):
        return self.js("return location.search.slice(1)")

    def field(self, key):
        return self.d.find_element(By.CSS_SELECTOR, f'[data-key="{key}"]')

    def type_into(self, key, text):
        before = self.shown()
        box = self.field(key)
        box.clear()
        box.send_keys(text)
        self.wait_preview(before)

    def choose(self, key, value):
        select = Select(self.field(key))
        if select.first_selected_option.get_attribute("value") == value:
            return  # already so: nothing to redraw
        before = self.shown()
        select.select_by_value(value)
        self.wait_preview(before)

    def downloaded(self, name, timeout=20):
        got = self.browser.downloaded(name, timeout)
        if got is None:
            self.fail(f"{name} was not downloaded; folder holds {os.listdir(self.browser.downloads)}")
        return got

    def build_company_seal(self):
        self.open()
        self.type_into("t", COMPANY)
        self.choose("c", "star")
        self.type_into("l1", "合同专用章")
        before = self.shown()
        self.d.find_element(By.ID, "f-k-on").click()
        self.wait_preview(before)
        self.type_into("k", CODE)

    def screenshot(self, name):
        if SCREENSHOTS:
            os.makedirs(SCREENSHOTS, exist_ok=True)
            self.js("document.activeElement.blur(); window.scrollTo(0, 0)")
            self.d.save_screenshot(os.path.join(SCREENSHOTS, name))

    # Tests --------------------------------------------------------------------------------

    def test_company_seal_downloads_link_and_json_round_trip(self):
        self.build_company_seal()
        q = urllib.parse.parse_qs(self.query())
        self.assertEqual(q["t"], [COMPANY])
        self.assertEqual(q["l1"], ["合同专用章"])
        self.assertEqual(q["k"], [CODE])
        self.assertEqual(q["c"], ["star"])
        self.assertTrue(self.d.find_element(By.ID, "notice").is_displayed())
        self.assertIn("合法用途", self.d.find_element(By.ID, "notice").text)
        self.screenshot("designer.png")
        query = self.query()
        # Downloads are the service's own pictures of the design.
        for fmt, magic in [("png", b"\x89PNG"), ("svg", b"<svg"), ("pdf", b"%PDF-")]:
            link = self.d.find_element(By.ID, f"download-{fmt}")
            link.click()
            path, data = self.downloaded(f"{COMPANY}.{fmt}")
            self.assertIn(magic, data[:200])
            target = urllib.parse.urlparse(link.get_attribute("href"))
            status, _, body = self.service.get(target.path + "?" + target.query)
            self.assertEqual(status, 200)
            self.assertEqual(body, data, fmt)
            if fmt == "png":
                self.assertIn("px=600", target.query)
            if fmt == "svg":
                self.assertIn(b'width="42mm" height="42mm"', data)
        self.d.find_element(By.ID, "export-json").click()
        json_path, exported = self.downloaded(f"{COMPANY}.json")
        design = json.loads(exported)
        self.assertEqual(design["text"]["value"], COMPANY)
        self.assertEqual(design["lines"][0]["value"], "合同专用章")
        self.assertEqual(design["code"]["value"], CODE)
        self.assertEqual(design["centre"]["kind"], "star")
        src = self.js("return document.getElementById('design-preview').src")

        # The link reproduces the design: the same controls, the same picture.
        link = self.d.find_element(By.ID, "share-link").get_attribute("value")
        self.d.get(link)
        self.browser.wait(lambda d: d.execute_script("return document.documentElement.dataset.ready === '1'"))
        self.wait_preview()
        self.assertEqual(self.query(), query)
        self.assertEqual(self.field("t").get_attribute("value"), COMPANY)
        self.assertEqual(self.field("k").get_attribute("value"), CODE)
        self.assertTrue(self.d.find_element(By.ID, "f-k-on").is_selected())
        self.assertEqual(self.js("return document.getElementById('design-preview').src"), src)

        # Importing the exported JSON into a fresh designer gives the same design.
        self.open()
        self.assertNotEqual(self.query(), query)
        before = self.shown()
        self.d.find_element(By.ID, "import-json").send_keys(json_path)
        self.wait_preview(before)
        self.assertEqual(urllib.parse.parse_qs(self.query()), urllib.parse.parse_qs(query))
        self.assertEqual(self.field("l1").get_attribute("value"), "合同专用章")
        self.assertIn("已导入", self.d.find_element(By.ID, "design-status").text)

    def test_bad_values_are_named_by_their_control_and_the_preview_stays(self):
        self.open()
        src = self.js("return document.getElementById('design-preview').src")
        box = self.field("ts")
        box.clear()
        box.send_keys("99")
        self.browser.wait(lambda d: d.find_element(By.ID, "design-errors").is_displayed())
        errors = self.d.find_element(By.ID, "design-errors").text
        self.assertIn("环形文字字号", errors)
        self.assertIn("毫米", errors)
        self.assertEqual(box.get_attribute("aria-invalid"), "true")
        self.assertEqual(box.get_attribute("aria-describedby"), "error-ts")
        self.assertEqual(self.js("return document.getElementById('design-preview').src"), src)
        # A broken file says so and changes nothing.
        bad = os.path.join(self.browser.downloads, "bad.json")
        with open(bad, "w") as f:
            f.write('{"width": 500, "shape": "hexagon"}')
        query = self.query()
        self.d.find_element(By.ID, "import-json").send_keys(bad)
        self.browser.wait(lambda d: "导入失败" in d.find_element(By.ID, "design-status").text)
        self.assertIn("形状", self.d.find_element(By.ID, "design-errors").text)
        self.assertEqual(self.query(), query)

    def test_undo_redo_by_buttons_and_keys(self):
        self.open()
        first = self.query()
        self.choose("shape", "oval")
        second = self.query()
        self.assertIn("shape=oval", second)
        self.choose("b", "double")
        third = self.query()
        self.d.find_element(By.ID, "undo").click()
        self.browser.wait(lambda d: self.query() == second)
        self.assertEqual(Select(self.field("b")).first_selected_option.get_attribute("value"), "")
        self.d.find_element(By.TAG_NAME, "body").send_keys(Keys.CONTROL, "z")
        self.browser.wait(lambda d: self.query() == first)
        self.d.find_element(By.TAG_NAME, "body").send_keys(Keys.CONTROL, "y")
        self.browser.wait(lambda d: self.query() == second)
        self.d.find_element(By.ID, "redo").click()
        self.browser.wait(lambda d: self.query() == third)
        self.assertTrue(self.d.find_element(By.ID, "redo").get_attribute("disabled"))

    def test_every_control_is_labelled_and_keyboard_reachable(self):
        self.open()
        unlabelled = self.js("""return [...document.querySelectorAll('input, select, button')]
            .filter(e => !e.hidden && e.type !== 'hidden')
            .filter(e => !(e.labels && e.labels.length) && !e.getAttribute('aria-label') && !e.textContent.trim())
            .map(e => e.id)""")
        self.assertEqual(unlabelled, [])
        # Keyboard alone: Tab reaches the ring text and typing changes the design.
        self.d.find_element(By.TAG_NAME, "body").click()
        for _ in range(60):
            if self.js("return document.activeElement.id") == "f-t":
                break
            self.d.switch_to.active_element.send_keys(Keys.TAB)
        self.assertEqual(self.js("return document.activeElement.id"), "f-t")
        before = self.shown()
        self.d.switch_to.active_element.send_keys(Keys.END, "甲")
        self.wait_preview(before)
        self.assertTrue(urllib.parse.parse_qs(self.query())["t"][0].endswith("甲"))

    def test_template_opens_as_the_same_picture(self):
        self.browser.open_maker(self.service.base)
        self.d.find_element(By.CSS_SELECTOR, '.tpl input[value="369"]').find_element(By.XPATH, "..").click()
        box = self.d.find_element(By.ID, "stamp-text")
        box.clear()
        box.send_keys(COMPANY)
        self.d.find_element(By.ID, "design-from").click()
        self.browser.wait(lambda d: d.execute_script("return document.documentElement.dataset.ready === '1'"))
        self.wait_preview()
        self.assertEqual(self.field("t").get_attribute("value"), COMPANY)
        _, _, design = self.service.get("/design.png?" + self.query() + "&px=300")
        _, _, stamp = self.service.get("/stamp/369/300/" + urllib.parse.quote(COMPANY) + ".png")
        self.assertEqual(design, stamp)

    def test_phone_width_has_no_horizontal_scroll(self):
        self.d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 360, "height": 740, "deviceScaleFactor": 2, "mobile": True})
        self.open()
        self.type_into("t", COMPANY + "第一分公司")
        width, inner = self.js("return [document.documentElement.scrollWidth, window.innerWidth]")
        self.assertLessEqual(width, inner)
        self.assertTrue(self.d.find_element(By.ID, "notice").is_displayed())
        self.screenshot("designer-phone.png")

    def test_face_and_weight_per_part(self):
        self.open("v=1&shape=round&t=" + urllib.parse.quote(COMPANY) + "&c=star&l1=" + urllib.parse.quote("合同专用章"))
        weight = self.d.find_element(By.ID, "f-tw")
        self.assertFalse(weight.is_displayed(), "a script has no weights to choose")
        fonts = json.loads(self.service.get("/design/fonts.json")[2])
        serif = next(f for f in fonts["faces"] if f["id"] == "noto-serif")
        if len(serif["weights"]) < 2:
            self.skipTest("fonts-noto-cjk-extra is not installed (scripts/setup.sh)")
        self.choose("tf", "noto-serif")
        self.assertTrue(weight.is_displayed())
        self.assertEqual([o.get_attribute("value") for o in Select(weight).options][1:], [str(w) for w in serif["weights"]])
        src = self.js("return document.getElementById('design-preview').src")
        self.choose("tw", "900")
        q = urllib.parse.parse_qs(self.query())
        self.assertEqual((q["tf"], q["tw"]), (["noto-serif"], ["900"]))
        self.assertNotEqual(self.js("return document.getElementById('design-preview').src"), src)
        # A face this host lacks is named in the list and cannot be chosen.
        for face in fonts["faces"]:
            option = self.d.find_element(By.CSS_SELECTOR, f'#f-tf option[value="{face["id"]}"]')
            self.assertEqual(option.get_attribute("disabled") is not None, not face["own"], face["id"])
            self.assertIn(face["name"], option.text)

    def test_typing_during_a_preview_asks_only_for_the_newest_design(self):
        proxy = FrontProxy(self.service.base)
        try:
            self.d.get(proxy.base + "designer.html?v=1&shape=round&t=" + urllib.parse.quote(COMPANY) + "&c=star")
            self.browser.wait(lambda d: d.execute_script("return document.documentElement.dataset.ready === '1'"))
            self.wait_preview()
            # Every picture the page puts up, in order.
            self.js("""window.shownQueries = [];
              new MutationObserver(() => window.shownQueries.push(
                  document.getElementById('design-preview').dataset.query || ''))
                .observe(document.getElementById('canvas'), {childList: true});""")
            pictures = lambda: [t for t in proxy.targets if t.startswith("/design.png?")]  # noqa: E731
            gate = threading.Event()
            proxy.holds["/design.png"] = gate
            asked = len(pictures())
            box = self.field("t")
            box.click()
            box.send_keys(Keys.END, "印")
            # Asked at once, with no wait for typing to pause; its answer is held back.
            self.browser.wait(lambda d: len(pictures()) == asked + 1, message="the first edit asked for nothing")
            for ch in "章公司":  # slower than any debounce, faster than the held answer
                box.send_keys(ch)
                time.sleep(0.1)
            self.assertEqual(len(pictures()), asked + 1, "a request went out while one was in flight")
            gate.set()
            final = urllib.parse.quote(COMPANY + "印章公司")
            self.browser.wait(lambda d: final in (d.execute_script(
                "return document.getElementById('design-preview').dataset.query") or ""),
                message="the newest design was not shown")
            newer = pictures()[asked + 1:]
            self.assertEqual(len(newer), 1, newer)
            self.assertIn(final, newer[0])
            # The held answer came back stale and was dropped: only the newest picture went up.
            shown = self.js("return window.shownQueries")
            self.assertEqual(len(shown), 1, shown)
            self.assertIn(final, shown[0])
        finally:
            proxy.stop()

    def test_picture_is_fetched_at_the_size_shown(self):
        self.d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 1000, "height": 900, "deviceScaleFactor": 2, "mobile": False})
        for query, zoom in [("v=1&shape=round&t=" + urllib.parse.quote(COMPANY), "100"),
                            ("v=1&shape=oval&t=" + urllib.parse.quote(COMPANY), "150"),
                            ("v=1&shape=long&t=" + urllib.parse.quote("天宝"), "50"),
                            ("v=1&shape=rect&w=50&h=20&t=" + urllib.parse.quote("天宝"), "100")]:
            self.open(query)
            if zoom != "100":
                before = self.shown()
                self.js("const z = document.getElementById('zoom'); z.value = arguments[0];"
                        " z.dispatchEvent(new Event('input', {bubbles: true}))", zoom)
                self.wait_preview(before)
            # A shape whose margin the page cannot know beforehand is asked again at its true size.
            size = ("const p = document.getElementById('design-preview');"
                    " return [p.getBoundingClientRect().width * devicePixelRatio, p.naturalWidth]")
            try:
                # The service rounds the seal's own proportions; a pixel either way is its rounding.
                self.browser.wait(lambda d: abs(self.js(size)[0] - self.js(size)[1]) <= 2, timeout=5)
            except Exception:
                shown, natural = self.js(size)
                self.fail(f"{query} at {zoom}%: shown {shown} device pixels wide, fetched {natural}")

    def test_twenty_edits_each_show_their_preview(self):
        self.open("v=1&shape=round&t=" + urllib.parse.quote(COMPANY) + "&c=star&l1=" +
                  urllib.parse.quote("合同专用章") + "&k=" + CODE)
        self.js("window.designTimings = []")
        box = self.field("t")
        box.click()
        box.send_keys(Keys.END)
        for i in range(20):
            before = self.shown()
            box.send_keys(Keys.BACKSPACE if i % 2 else "印")
            self.wait_preview(before)
            time.sleep(0.05)
        timings = self.js("return window.designTimings")
        self.assertGreaterEqual(len(timings), 20)
        median = statistics.median(timings[-20:])
        print(f"\nedit to preview painted, median of 20 edits: {median:.1f} ms "
              f"(min {min(timings[-20:]):.1f}, max {max(timings[-20:]):.1f})", file=sys.stderr)
        # A figure, not a pass mark (speed targets are shown, not timed in tests): README reports it.


if __name__ == "__main__":
    STAMPD = find_stampd(sys.argv)
    if "--screenshots" in sys.argv:
        i = sys.argv.index("--screenshots")
        SCREENSHOTS = sys.argv[i + 1]
        del sys.argv[i:i + 2]
    unittest.main()
