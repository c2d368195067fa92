#!/usr/bin/python3
"""Benchmark of the stamp maker page in headless Chromium against the real stampd (not a
test: it asserts nothing and prints figures). Timings come from the page's own Performance
API marks:
  first-thumbnails   navigation start until every thumbnail in the first screen has loaded
                     and been painted
  enter-to-preview   the Enter key's submit until the new picture is decoded and painted
  gallery blocking   long tasks (PerformanceObserver 'longtask') from the catalogue's arrival
                     until the gallery is built, on a processor throttled four times as
                     Lighthouse's mobile run assumes: the blocking time (each task's part over
                     50 ms, summed) and the longest task
  Lighthouse         the performance score, total blocking time and LCP, desktop and mobile
                     (accessibility, best practices and SEO are asserted by the tests)
Figures depend on the machine and its load, which is why they are here and not in a test.

Usage: maker_bench.py [--stampd PATH] [--runs N]"""

import os
import statistics
import sys
import time

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import Browser, Stampd, find_stampd, web_tools  # noqa: E402
from lighthouse_test import lighthouse  # noqa: E402

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


def gallery_blocking(browser, base):
    """Blocking time and longest task while the gallery is built (4x CPU throttling)."""
    d = browser.driver
    d.execute_cdp_cmd("Network.clearBrowserCache", {})
    d.execute_cdp_cmd("Emulation.setCPUThrottlingRate", {"rate": 4})
    script = d.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": (
        "window.__long = []; new PerformanceObserver(l => { for (const e of l.getEntries())"
        " window.__long.push([e.startTime, e.duration]); }).observe({type: 'longtask', buffered: true});")})
    try:
        browser.open_maker(base)
        browser.wait(lambda drv: drv.execute_script(
            "return document.querySelectorAll('.tpl').length") >= 281, timeout=60)
        time.sleep(0.5)
    finally:
        d.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument", {"identifier": script["identifier"]})
        d.execute_cdp_cmd("Emulation.setCPUThrottlingRate", {"rate": 1})
    catalogue = browser.js("return performance.getEntriesByType('resource')"
                           ".find(e => e.name.endsWith('/templates.json')).responseEnd")
    tasks = [t[1] for t in browser.js("return window.__long") if t[0] >= catalogue]
    return sum(max(0, t - 50) for t in tasks), max(tasks, default=0)


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
        blocking = [gallery_blocking(browser, service.base) for _ in range(runs)]
    finally:
        browser.quit()
    audits = {}
    try:
        tools = web_tools()
        for form_factor in ["desktop", "mobile"]:
            audits[form_factor] = [lighthouse(tools, service.base, form_factor) for _ in range(min(runs, 3))]
    finally:
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
    row("blocking time while the gallery is built, CPU throttled 4x", [b for b, _ in blocking])
    row("longest task while the gallery is built, CPU throttled 4x", [t for _, t in blocking])
    for form_factor, results in audits.items():
        perf = [r[0]["performance"] * 100 for r in results]
        print(f"| Lighthouse {form_factor}: performance score | {statistics.median(perf):.0f} | "
              f"{min(perf):.0f}–{max(perf):.0f} |")
        tbt = [r[1]["total-blocking-time"] for r in results]
        row(f"Lighthouse {form_factor}: total blocking time", tbt)
        row(f"Lighthouse {form_factor}: largest contentful paint", [r[1]["largest-contentful-paint"] for r in results])


if __name__ == "__main__":
    main()
