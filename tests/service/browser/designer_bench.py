#!/usr/bin/python3
"""Benchmark of the seal designer's preview in headless Chromium against the real stampd (not a
test: it asserts nothing and prints figures). The figure is the page's own measure
`edit-to-preview`: from the key press (the input event's time stamp) until the new picture is
decoded, in the page and painted.

  one edit at a time   the designer test's edits: a character typed into the ring text (or
                       taken away), the preview awaited, 50 ms, the next one
  a burst of typing    six characters typed as fast as the driver sends keys; from the last
                       key's input event until the picture of the whole text is painted

With --before PATH the same runs are made against an older stampd (its page is compiled into
it), interleaved with the build's, so both see the same machine.

Usage: designer_bench.py [--stampd PATH] [--before PATH] [--runs N]"""

import os
import statistics
import sys
import time
import urllib.parse

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import Browser, Stampd, find_stampd  # noqa: E402

COMPANY = "天宝印章制作有限公司"
DESIGN = ("v=1&shape=round&t=" + urllib.parse.quote(COMPANY) + "&c=star&l1=" + urllib.parse.quote("合同专用章") +
          "&k=9131000012345")


def shown(browser):
    return int(browser.js("return Number(document.documentElement.dataset.previewed || 0)"))


def open_designer(browser, base):
    browser.driver.get(base + "designer.html?" + DESIGN)
    browser.wait(lambda d: d.execute_script("return document.documentElement.dataset.ready === '1'"), timeout=60)
    browser.wait(lambda d: shown(browser) > 0, timeout=60)
    box = browser.driver.find_element(By.CSS_SELECTOR, '[data-key="t"]')
    box.click()
    box.send_keys(Keys.END)
    return box


def one_at_a_time(browser, base, edits):
    box = open_designer(browser, base)
    browser.js("window.designTimings = []")
    for i in range(edits):
        before = shown(browser)
        box.send_keys(Keys.BACKSPACE if i % 2 else "印")
        browser.wait(lambda d: shown(browser) > before, timeout=30)
        time.sleep(0.05)
    browser.wait(lambda d: d.execute_script("return (window.designTimings || []).length") >= edits, timeout=30)
    return browser.js("return window.designTimings")[-edits:]


def burst(browser, base):
    box = open_designer(browser, base)
    text = "第一分公司印"
    want = urllib.parse.quote(COMPANY + text)
    # Watches for the final picture from inside the page, so the figure does not include the
    # driver's polling: the time it is in the page, decoded, and a frame has been painted.
    browser.js("""
      const want = arguments[0];
      window.burstDone = 0;
      document.addEventListener('input', (e) => { window.lastInput = e.timeStamp; }, true);
      const check = () => {
        const p = document.getElementById('design-preview');
        if (window.burstDone || !p || !p.complete || !p.naturalWidth) return;
        if (!(p.dataset.query || p.src).includes(want)) return;
        window.burstDone = -1;
        requestAnimationFrame(() => setTimeout(() => { window.burstDone = performance.now(); }, 0));
      };
      new MutationObserver(check).observe(document.getElementById('canvas'),
                                          {subtree: true, childList: true, attributes: true});
      document.getElementById('canvas').addEventListener('load', check, true);
    """, want)
    box.send_keys(text)
    browser.wait(lambda d: d.execute_script("return window.burstDone > 0"), timeout=30)
    return browser.js("return window.burstDone - window.lastInput")


def main():
    stampd = find_stampd(sys.argv)
    before = None
    if "--before" in sys.argv:
        before = sys.argv[sys.argv.index("--before") + 1]
    runs = 5
    if "--runs" in sys.argv:
        runs = int(sys.argv[sys.argv.index("--runs") + 1])
    builds = [("now", stampd)] + ([("before", before)] if before else [])
    results = {name: {"edits": [], "burst": []} for name, _ in builds}
    browser = Browser()
    try:
        for _ in range(runs):
            for name, binary in builds:
                service = Stampd(binary)
                try:
                    results[name]["edits"].append(statistics.median(one_at_a_time(browser, service.base, 20)))
                    results[name]["burst"].append(burst(browser, service.base))
                finally:
                    service.stop()
    finally:
        browser.quit()

    print(f"seal designer, headless Chromium, {runs} runs interleaved; each run the median of 20 edits")
    print("| measure | " + " | ".join(name for name, _ in builds) + " |")
    print("|---|" + "---|" * len(builds))
    for key, what in (("edits", "edit to preview painted, one edit at a time (median of runs)"),
                      ("burst", "six characters typed at once: last key to the final preview painted")):
        cells = [f"{statistics.median(results[name][key]):.1f} ms ({min(results[name][key]):.1f}–"
                 f"{max(results[name][key]):.1f})" for name, _ in builds]
        print(f"| {what} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
