#!/usr/bin/python3
"""Benchmark of the stamp maker page in headless Chromium against the real stampd (not a
test: it asserts nothing and prints figures). Timings come from the page's own Performance
API marks:
  first-thumbnails   navigation start until every thumbnail in the first screen has loaded
                     and been painted
  enter-to-preview   the Enter key's submit until the new picture is decoded and painted

Usage: maker_bench.py [--stampd PATH] [--runs N]"""

import os
import statistics
import sys

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import Browser, Stampd, find_stampd  # noqa: E402

NAMES = "张王李赵刘陈杨黄周吴徐孙马朱胡郭何林高罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘蒋蔡余杜叶程魏苏吕丁沈任姚卢"


def first_thumbnails(browser, base, clear_cache):
    if clear_cache:
        browser.driver.execute_cdp_cmd("Network.clearBrowserCache", {})
    browser.driver.get(base)
    browser.wait(lambda d: d.execute_script("return performance.getEntriesByName('first-thumbnails').length > 0"),
                 timeout=60)
    return browser.js("return [performance.getEntriesByName('first-thumbnails')[0].startTime,"
                      " Number(document.documentElement.dataset.firstThumbnails)]")


def enter_to_preview(browser, text):
    box = browser.driver.find_element(By.ID, "stamp-text")
    box.clear()
    before = browser.js("return performance.getEntriesByName('enter-to-preview').length")
    box.send_keys(text, Keys.ENTER)
    browser.wait(lambda d: d.execute_script(
        "return performance.getEntriesByName('enter-to-preview').length > arguments[0]", before), timeout=60)
    return browser.js("const m = performance.getEntriesByName('enter-to-preview'); return m[m.length - 1].duration")


def main():
    stampd = find_stampd(sys.argv)
    runs = 9
    if "--runs" in sys.argv:
        runs = int(sys.argv[sys.argv.index("--runs") + 1])
    service = Stampd(stampd)
    browser = Browser()
    try:
        cold_service, shown = first_thumbnails(browser, service.base, True)
        first_visit = [first_thumbnails(browser, service.base, True)[0] for _ in range(runs)]
        repeat_visit = [first_thumbnails(browser, service.base, False)[0] for _ in range(runs)]

        browser.open_maker(service.base)
        browser.driver.find_element(By.CSS_SELECTOR, '.tpl input[value="368"]').find_element(By.XPATH, "..").click()
        new_text = [enter_to_preview(browser, "印" + NAMES[i] + NAMES[-1 - i]) for i in range(runs)]
        again = [enter_to_preview(browser, "印" + NAMES[0] + NAMES[-1]) for _ in range(runs)]
        browser.driver.find_element(By.CSS_SELECTOR, '.tpl input[value="369"]').find_element(By.XPATH, "..").click()
        big = [enter_to_preview(browser, "天下第一印章有限公司" + NAMES[i]) for i in range(runs)]
    finally:
        browser.quit()
        service.stop()

    def row(what, samples):
        print(f"| {what} | {statistics.median(samples):.0f} ms | {min(samples):.0f}–{max(samples):.0f} ms |")

    print(f"stamp maker page, headless Chromium, {runs} runs each, {shown} thumbnails in the first screen "
          "(1280×900 window)")
    print("| measure | median | range |")
    print("|---|---|---|")
    print(f"| page load to first screen of thumbnails, service and browser cold (one run) | {cold_service:.0f} ms | — |")
    row("page load to first screen of thumbnails, browser cache cleared", first_visit)
    row("page load to first screen of thumbnails, repeat visit", repeat_visit)
    row("Enter to preview drawn, new text (template 368)", new_text)
    row("Enter to preview drawn, same text again", again)
    row("Enter to preview drawn, new ten-character round seal (template 369)", big)


if __name__ == "__main__":
    main()
