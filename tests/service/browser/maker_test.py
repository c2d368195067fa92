#!/usr/bin/python3
"""The stamp maker page in a real browser: headless Chromium against the real stampd.

Usage: maker_test.py [--stampd PATH] [--screenshots DIR] [unittest options]
Screenshots of the page (desktop and 360 px wide) go to --screenshots (default: beside the
stampd binary, screenshots/)."""

import os
import re
import sys
import tempfile
import time
import unittest
import urllib.parse

from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import Browser, Stampd, find_stampd  # noqa: E402

STAMPD = None
SCREENSHOTS = None


def error_of(body):
    m = re.search(rb"<error>(.*?)</error>", body)
    return m.group(1).decode() if m else None


class MakerPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.downloads_dir = tempfile.TemporaryDirectory()
        cls.exe = os.urandom(3000) + b"MZ installer"
        with open(os.path.join(cls.downloads_dir.name, "Tambrel-1.0-setup.exe"), "wb") as f:
            f.write(cls.exe)
        with open(os.path.join(cls.downloads_dir.name, "Tambrel-1.0-win64.zip"), "wb") as f:
            f.write(b"PK\x03\x04" + os.urandom(2000))
        cls.service = Stampd(STAMPD, "--downloads", cls.downloads_dir.name)
        cls.browser = Browser()
        cls.d = cls.browser.driver

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.service.stop()
        cls.downloads_dir.cleanup()

    def setUp(self):
        self.d.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        for name in os.listdir(self.browser.downloads):
            os.remove(os.path.join(self.browser.downloads, name))
        self.browser.open_maker(self.service.base)

    # Helpers ------------------------------------------------------------------------------

    def js(self, script, *args):
        return self.browser.js(script, *args)

    def visible_cards(self):
        return self.js("return [...document.querySelectorAll('.tpl')].filter(e => !e.hidden).length")

    def choose(self, template_id):
        self.d.find_element(By.CSS_SELECTOR, f'.tpl input[value="{template_id}"]').find_element(By.XPATH, "..").click()
        self.assertEqual(self.js("return document.querySelector('.tpl.selected input').value"), str(template_id))

    def type_text(self, text):
        box = self.d.find_element(By.ID, "stamp-text")
        box.clear()
        box.send_keys(text)
        return box

    def status(self):
        return self.d.find_element(By.ID, "status").text

    def wait_status(self, prefix):
        self.browser.wait(lambda d: d.find_element(By.ID, "status").text.startswith(prefix),
                          message=f"status never started with {prefix!r}: {self.status()!r}")

    def preview_src(self):
        return self.js("const p = document.getElementById('preview'); return p.hidden ? null : p.src")

    def generate_with_enter(self, text):
        self.type_text(text).send_keys(Keys.ENTER)
        self.wait_status("已生成")
        self.browser.wait(lambda d: d.execute_script(
            "const p = document.getElementById('preview'); return p.complete && p.naturalWidth > 0"))

    def download_link(self, fmt):
        return self.d.find_element(By.CSS_SELECTOR, f'#downloads a[data-format="{fmt}"]')

    def downloaded(self, name, timeout=20):
        path = os.path.join(self.browser.downloads, name)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path) and not os.path.exists(path + ".crdownload"):
                with open(path, "rb") as f:
                    data = f.read()
                if data:
                    return data
            time.sleep(0.05)
        self.fail(f"{name} was not downloaded; folder holds {os.listdir(self.browser.downloads)}")

    def no_horizontal_scroll(self):
        return self.js("return [document.documentElement.scrollWidth, window.innerWidth]")

    def phone(self):
        self.d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 360, "height": 740, "deviceScaleFactor": 2, "mobile": True})

    # Tests --------------------------------------------------------------------------------

    def test_notice_and_security_headers(self):
        notice = self.d.find_element(By.ID, "notice")
        self.assertTrue(notice.is_displayed())
        self.assertIn("合法用途", notice.text)
        for path in ["/", "/maker.js", "/maker.css", "/templates.json", "/download"]:
            status, headers, _ = self.service.get(path)
            self.assertEqual(status, 200, path)
            self.assertIn("default-src 'self'", headers["Content-Security-Policy"], path)
            etag = headers["ETag"]
            self.assertTrue(etag, path)
            status, headers, body = self.service.get(path, {"If-None-Match": etag})
            self.assertEqual((status, body), (304, b""), path)
        # Nothing the page loaded came from another origin.
        origins = self.js("return performance.getEntriesByType('resource').map(e => new URL(e.name).origin)")
        self.assertEqual(set(origins), {self.service.base.rstrip("/")})

    def test_gallery_shows_every_template_and_search_narrows_it(self):
        self.assertEqual(self.visible_cards(), 281)
        self.assertIn("281", self.d.find_element(By.ID, "gallery-count").text)
        # Thumbnails load as they come into view, not all at once.
        self.browser.wait(lambda d: d.execute_script("return document.documentElement.dataset.firstThumbnails"))
        loaded = self.js("return performance.getEntriesByType('resource')"
                         ".filter(e => e.name.includes('/maker/thumbnails/')).length")
        self.assertGreater(loaded, 0)
        self.assertLess(loaded, 281)
        first = self.js("return [...document.querySelectorAll('.tpl img')].slice(0, 4).map(i => i.naturalWidth)")
        self.assertTrue(all(w > 0 for w in first), first)

        search = self.d.find_element(By.ID, "search")
        for words in ["财务", "圆形", "姓名", "圆形 财务"]:
            search.clear()
            search.send_keys(words)
            titles = self.js("return [...document.querySelectorAll('.tpl')].filter(e => !e.hidden)"
                             ".map(e => e.querySelector('.tpl-title').textContent)")
            self.assertGreater(len(titles), 0, words)
            self.assertLess(len(titles), 281, words)
            for title in titles:
                for w in words.split():
                    self.assertIn(w, title, words)
        search.clear()
        search.send_keys("没有这种模板")
        self.assertEqual(self.visible_cards(), 0)
        self.assertTrue(self.d.find_element(By.ID, "gallery-empty").is_displayed())
        search.clear()
        search.send_keys(" ")
        self.assertEqual(self.visible_cards(), 281)

    def test_enter_generates_and_png_download_matches_the_service(self):
        self.choose(368)
        self.assertEqual(self.d.find_element(By.ID, "capacity").text, "最多 4 个字")
        self.generate_with_enter("张三")
        src = self.preview_src()
        path = urllib.parse.urlsplit(src).path
        self.assertTrue(path.startswith("/stamp/368/0/"), path)
        link = self.download_link("png")
        self.assertEqual(link.get_attribute("download"), "张三.png")
        self.assertEqual(self.js("return [...document.querySelectorAll('#downloads a')].map(a => a.dataset.format)"),
                         ["png"])  # the formats /templates.json lists
        link.click()
        status, headers, served = self.service.get(path)
        self.assertEqual(status, 200)
        self.assertEqual(self.downloaded("张三.png"), served)
        if SCREENSHOTS:
            size = self.d.get_window_size()
            self.d.set_window_size(1280, 1000)  # the whole workbench, download button included
            self.d.save_screenshot(os.path.join(SCREENSHOTS, "maker.png"))
            self.d.set_window_size(size["width"], size["height"])

    def test_keyboard_alone(self):
        search = self.d.find_element(By.ID, "search")
        search.send_keys("姓名", Keys.ENTER)
        chosen = self.js("return document.querySelector('.tpl.selected .tpl-title').textContent")
        self.assertIn("姓名", chosen)
        # Enter in the search box chose the first match and moved on to the text.
        self.assertEqual(self.js("return document.activeElement.id"), "stamp-text")
        self.d.switch_to.active_element.send_keys("李四", Keys.ENTER)
        self.wait_status("已生成")
        # Arrow keys walk the gallery from the chosen card.
        self.js("document.querySelector('.tpl.selected input').focus()")
        before = self.js("return document.querySelector('.tpl.selected input').value")
        self.d.switch_to.active_element.send_keys(Keys.ARROW_RIGHT)
        after = self.js("return document.querySelector('.tpl.selected input').value")
        self.assertNotEqual(before, after)
        # Tab reaches the size, the button and the download link; Enter on the link downloads.
        self.js("document.getElementById('stamp-text').focus()")
        order = []
        for _ in range(3):
            self.d.switch_to.active_element.send_keys(Keys.TAB)
            order.append(self.js("const e = document.activeElement; return e.id || e.dataset.format"))
        self.assertEqual(order, ["stamp-size", "generate", "png"])
        self.d.switch_to.active_element.send_keys(Keys.ENTER)
        self.assertTrue(self.downloaded("李四.png").startswith(b"\x89PNG"))

    def test_bad_input_shows_the_service_error_and_keeps_the_preview(self):
        self.choose(368)
        self.generate_with_enter("张三")
        good = self.preview_src()
        good_link = self.download_link("png").get_attribute("href")
        cases = [  # (text, template id forced into the page or None, what the service says)
            ("张", None),
            ("张三李四王五", None),
            ("", None),
            ("张三", "1"),
        ]
        for text, forced_id in cases:
            with self.subTest(text=text, template=forced_id):
                if forced_id:
                    self.js("document.querySelector('.tpl.selected input').value = arguments[0]", forced_id)
                template = forced_id or "368"
                _, _, body = self.service.get(
                    f"/aosbegin.php?text={urllib.parse.quote(text)}&id={template}&signsize=0&rnd=1")
                expected = error_of(body)
                self.assertTrue(expected, body)
                self.type_text(text).send_keys(Keys.ENTER)
                self.wait_status("生成失败")
                self.assertEqual(self.status(), f"生成失败：{expected}")
                self.assertIn("error", self.d.find_element(By.ID, "status").get_attribute("class"))
                self.assertEqual(self.preview_src(), good)
                self.assertEqual(self.download_link("png").get_attribute("href"), good_link)
        # After the failures a good text works again.
        self.js("document.querySelector('.tpl.selected input').value = '368'")
        self.generate_with_enter("王五")
        self.assertNotEqual(self.preview_src(), good)

    def test_markup_in_the_text_is_shown_as_text(self):
        attack = "<img src=x onerror=alert(1)>"
        self.choose(369)  # room for 26 cells: the text is drawn, and shown back in the caption
        self.js("window.__alerts = 0; window.alert = () => { window.__alerts += 1; };")
        self.type_text(attack).send_keys(Keys.ENTER)
        self.browser.wait(lambda d: d.find_element(By.ID, "status").text not in ("", "正在生成…"))
        time.sleep(0.3)
        self.assertIn(attack, self.d.find_element(By.ID, "preview-caption").text + self.status())
        self.assertEqual(self.js("return document.querySelectorAll('img[src=\"x\"], img[src$=\"/x\"]').length"), 0)
        self.assertEqual(self.js("return window.__alerts"), 0)
        with self.assertRaises(NoAlertPresentException):
            self.d.switch_to.alert.text
        self.assertEqual(self.download_link("png").get_attribute("download"), "_img src=x onerror=alert(1)_.png")

    def test_phone_width_has_no_horizontal_scroll(self):
        self.phone()
        self.browser.open_maker(self.service.base)
        scroll, width = self.no_horizontal_scroll()
        self.assertEqual(width, 360)
        self.assertLessEqual(scroll, width)
        # A long title in the chosen line and a large picture do not widen the page either.
        self.choose(369)
        self.d.find_element(By.ID, "stamp-size").clear()
        self.d.find_element(By.ID, "stamp-size").send_keys("2048")
        self.generate_with_enter("天下第一印章有限公司")
        scroll, width = self.no_horizontal_scroll()
        self.assertLessEqual(scroll, width)
        self.assertLessEqual(self.js("return document.getElementById('preview').getBoundingClientRect().right"), 360)
        self.assertTrue(self.d.find_element(By.ID, "notice").is_displayed())
        if SCREENSHOTS:
            self.js("window.scrollTo(0, 0)")
            self.d.save_screenshot(os.path.join(SCREENSHOTS, "maker-phone.png"))

    def test_download_page_offers_the_operators_files(self):
        self.d.get(self.service.base + "download")
        links = self.d.find_elements(By.CSS_SELECTOR, "#downloads a")
        self.assertEqual([a.text for a in links], ["Tambrel-1.0-setup.exe", "Tambrel-1.0-win64.zip"])
        links[0].click()
        self.assertEqual(self.downloaded("Tambrel-1.0-setup.exe"), self.exe)
        self.assertIn("合法用途", self.d.find_element(By.TAG_NAME, "body").text)

    def test_download_page_without_a_folder_says_so(self):
        bare = Stampd(STAMPD)
        try:
            self.d.get(bare.base + "download")
            self.assertIn("没有提供安装包", self.d.find_element(By.ID, "no-downloads").text)
            self.assertEqual(self.d.find_elements(By.CSS_SELECTOR, "#downloads a"), [])
            self.assertEqual(bare.get("/download/Tambrel-1.0-setup.exe")[0], 404)
        finally:
            bare.stop()


if __name__ == "__main__":
    STAMPD = find_stampd(sys.argv)
    if "--screenshots" in sys.argv:
        i = sys.argv.index("--screenshots")
        SCREENSHOTS = sys.argv[i + 1]
        del sys.argv[i:i + 2]
    else:
        SCREENSHOTS = os.path.join(os.path.dirname(os.path.abspath(STAMPD)), "screenshots")
    os.makedirs(SCREENSHOTS, exist_ok=True)
    unittest.main(verbosity=2)
