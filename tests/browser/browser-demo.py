"""A visitor's path through the running demo in headless Chromium.

The home page, a search typed into its form, the result list with the excerpts of the
pages, "Next >>" to the second page, and a result's document; then a search of a folder
of documents without descriptions (the demo's --docs), whose results show excerpts.
Screenshots of each page are kept for a person to look at.
Driven through Debian's python3-selenium and chromium-driver, which Debian keeps at the
version of its chromium: nothing is downloaded, the driver and browser are named by path.

Usage: /usr/bin/python3 browser-demo.py --url http://127.0.0.1:PORT/ --screenshots DIR
                                        --profile DIR [--docs-url http://127.0.0.1:PORT2/]
                                        [--chromium /usr/bin/chromium]
                                        [--chromedriver /usr/bin/chromedriver]
Exit status 0 when every check passes, 1 otherwise.
"""

import argparse
import base64
import json
import os
import shutil
import sys
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# A word that the demo's pages use often enough for several result pages of PER_PAGE.
QUERY = "water"
PER_PAGE = 5
# Bounds for a hang only; nothing here measures how fast a page comes.
STEP_TIMEOUT_S = 60
DESKTOP = (1280, 900)
PHONE = (390, 844)


class Checks:
    def __init__(self):
        self.failures = 0

    def check(self, condition, what, detail=None):
        print(f"{'ok  ' if condition else 'FAIL'} {what}{': ' + str(detail) if not condition and detail is not None else ''}",
              flush=True)
        if not condition:
            self.failures += 1
        return condition

    def need(self, condition, what, detail=None):
        """A check that the following steps build on: without it they could only wait
        for a page element that is not there."""
        if not self.check(condition, what, detail):
            raise RuntimeError(f"cannot go on: {what}")


def start_browser(opt):
    # A fresh profile each run, and nothing that reaches past loopback on its own: every
    # host name but the site's resolves to nothing, and the performance log still shows
    # what a page asked for.
    site_host = urllib.parse.urlsplit(opt.url).hostname
    options = webdriver.ChromeOptions()
    options.binary_location = opt.chromium
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--hide-scrollbars",
                 f"--user-data-dir={opt.profile}",
                 f"--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE {site_host}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=Service(executable_path=opt.chromedriver), options=options)
    driver.set_page_load_timeout(STEP_TIMEOUT_S)
    set_viewport(driver, *DESKTOP)
    return driver


def set_viewport(driver, width, height):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})


def screenshot(driver, path):
    """The whole page, not only the part in the viewport."""
    size = driver.execute_cdp_cmd("Page.getLayoutMetrics", {})["cssContentSize"]
    clip = {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}
    shot = driver.execute_cdp_cmd("Page.captureScreenshot",
                                  {"format": "png", "captureBeyondViewport": True, "clip": clip})
    with open(path, "wb") as out:
        out.write(base64.b64decode(shot["data"]))


class Traffic:
    """What the pages asked for and what they reported, read from Chromium's logs (each
    read empties the log, so it is gathered here)."""

    def __init__(self, driver):
        self.driver = driver
        self.requested = []
        self.script_errors = []

    def gather(self):
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                self.requested.append(message["params"]["request"]["url"])
        for entry in self.driver.get_log("browser"):
            # Uncaught exceptions and console errors of the pages' own scripts.
            if entry["level"] == "SEVERE" and entry.get("source") in ("javascript", "console-api"):
                self.script_errors.append(entry["message"])

    def off_site(self, sites):
        """Requests that went to the network elsewhere than the demo sites; the browser's
        own chrome:// pages and data: addresses stay inside it."""
        return [url for url in self.requested
                if urllib.parse.urlsplit(url).scheme in ("http", "https", "ws", "wss", "ftp")
                and urllib.parse.urlsplit(url).netloc not in sites]


def navigation_status(driver):
    return driver.execute_script(
        "const n = performance.getEntriesByType('navigation')[0]; return n ? n.responseStatus : null;")


def follow(driver, element):
    """Clicks an element that leads to another page and waits for that page to load."""
    WebDriverWait(driver, STEP_TIMEOUT_S).until(lambda d: element.is_displayed() and element.is_enabled())
    element.click()
    WebDriverWait(driver, STEP_TIMEOUT_S).until(
        lambda d: d.execute_script("return document.readyState === 'complete' && !!document.body")
        and not is_attached(element))
    return navigation_status(driver)


def is_attached(element):
    try:
        element.is_enabled()
        return True
    except Exception:  # a stale element: its page is gone
        return False


def result_page(driver):
    """The summary line, the bold current page and the result links as a visitor sees them."""
    return driver.execute_script("""
        const text = document.body.innerText;
        const found = /Found (\\d+) Web pages?/.exec(text);
        // The current page is the bold number outside any link in the "Result Pages:" row.
        const current = [...document.querySelectorAll('b')]
          .filter((b) => !b.closest('a') && /^\\d+$/.test(b.textContent.trim()))
          .map((b) => Number(b.textContent.trim()));
        const hits = [...document.querySelectorAll('main a.hit-title')]
          .map((a) => ({ href: a.href, title: a.textContent.trim() }));
        return { found: found ? Number(found[1]) : null, current, hits };
    """)


def excerpts(driver):
    """Each result's excerpt as a visitor sees it, with the words that it marks, and
    whether the page shows a description that says there is none."""
    return driver.execute_script("""
        const shown = (element) => element && element.offsetParent !== null;
        const hits = [...document.querySelectorAll('main .hit')].map((hit) => {
          const excerpt = hit.querySelector('.hit-excerpt');
          return {
            text: excerpt && shown(excerpt) ? excerpt.innerText.trim() : '',
            marked: excerpt ? [...excerpt.querySelectorAll('mark')].map((m) => m.textContent) : [],
          };
        });
        const none = [...document.querySelectorAll('.hit-desc')]
          .some((d) => shown(d) && d.textContent === '...No description given...');
        return { hits, noDescriptionShown: none };
    """)


def check_excerpts(checks, driver, where):
    shown = excerpts(driver)
    checks.check(shown["hits"] and all(hit["text"] for hit in shown["hits"]),
                 f"every result {where} shows an excerpt", shown["hits"])
    # A page whose word stands only in its markup or title shows the start of its text.
    checks.check(shown["hits"] and shown["hits"][0]["marked"]
                 and all(word.lower().startswith(QUERY) for hit in shown["hits"] for word in hit["marked"]),
                 f"the excerpts {where} mark the search word and nothing else", shown["hits"])
    checks.check(not shown["noDescriptionShown"], f"no result {where} says it has no description")


def visit_docs(driver, traffic, checks, opt):
    """The demo's --docs: documents without descriptions, searched through its form."""
    driver.get(opt.docs_url)
    form = driver.find_element(By.CSS_SELECTOR, 'form[action="/cgi-bin/trawlex.exe"]')
    form.find_element(By.CSS_SELECTOR, 'input[name="Search"]').send_keys(QUERY)
    status = follow(driver, form.find_element(By.CSS_SELECTOR, 'button[type="submit"]'))
    checks.check(status == 200, "a search of the documents answers 200", status)
    found = result_page(driver)["found"]
    checks.need(found is not None and found > 0, "the documents hold the search word", found)
    check_excerpts(checks, driver, "of the documents")
    screenshot(driver, os.path.join(opt.screenshots, "5-documents-excerpts.png"))
    set_viewport(driver, *PHONE)
    screenshot(driver, os.path.join(opt.screenshots, "5-documents-excerpts-phone.png"))
    set_viewport(driver, *DESKTOP)
    traffic.gather()


def visit(driver, traffic, checks, opt):
    base = urllib.parse.urlsplit(opt.url)

    def shot(name):
        screenshot(driver, os.path.join(opt.screenshots, name))
        traffic.gather()

    # Home page with its search form.
    driver.get(opt.url)
    checks.check(navigation_status(driver) == 200, "home page answers 200", navigation_status(driver))
    forms = driver.find_elements(By.CSS_SELECTOR, 'form[action="/cgi-bin/trawlex.exe"]')
    checks.need(len(forms) > 0, "home page has the search form")
    form = forms[0]
    box = form.find_element(By.CSS_SELECTOR, 'input[name="Search"]')
    checks.need(box.is_displayed(), "home page shows the search box")
    shot("1-home.png")

    # A search typed into the form as a visitor would, with fewer results per page.
    box.click()
    box.send_keys(QUERY)
    Select(form.find_element(By.CSS_SELECTOR, 'select[name="Count"]')).select_by_visible_text(str(PER_PAGE))
    status = follow(driver, form.find_element(By.CSS_SELECTOR, 'button[type="submit"]'))
    checks.check(status == 200, "search answers 200", status)
    submitted = urllib.parse.urlsplit(driver.current_url)
    words = urllib.parse.parse_qs(submitted.query).get("Search")
    checks.check(submitted.path == "/cgi-bin/trawlex.exe" and words == [QUERY],
                 "the form sent the typed words to the program", driver.current_url)
    first = result_page(driver)
    checks.need(first["found"] is not None and first["found"] > PER_PAGE,
                f'summary line "Found N Web pages" with more than {PER_PAGE} pages', first["found"])
    checks.check(len(first["hits"]) == PER_PAGE, f"first page lists {PER_PAGE} result links", len(first["hits"]))
    checks.check(all(hit["title"] and urllib.parse.urlsplit(hit["href"]).netloc == base.netloc
                     for hit in first["hits"]),
                 "every result link has a title and stays on the site", first["hits"])
    checks.check(first["current"] == [1], "page 1 is the bold current page", first["current"])
    check_excerpts(checks, driver, "on page 1")
    shot("2-results-page-1.png")
    # The same page at a phone's width, for a person to judge the layout.
    set_viewport(driver, *PHONE)
    shot("2-results-page-1-phone.png")
    set_viewport(driver, *DESKTOP)

    # "Next >>" to the second page.
    next_links = driver.find_elements(By.LINK_TEXT, "Next >>")
    checks.need(len(next_links) == 1, 'first page has one "Next >>" link', len(next_links))
    status = follow(driver, next_links[0])
    checks.check(status == 200, "second page answers 200", status)
    second = result_page(driver)
    checks.check(second["found"] == first["found"], "second page has the same summary line", second["found"])
    checks.check(second["current"] == [2], "page 2 is the bold current page", second["current"])
    expected = min(PER_PAGE, first["found"] - PER_PAGE)
    checks.check(len(second["hits"]) == expected, f"second page lists {expected} result links", len(second["hits"]))
    first_links = {hit["href"] for hit in first["hits"]}
    checks.check(all(hit["href"] not in first_links for hit in second["hits"]),
                 "second page lists other results than the first")
    # The results page puts the request's words and count back into its own form.
    again = driver.find_element(By.ID, "search-form")
    checks.check(again.find_element(By.NAME, "Search").get_property("value") == QUERY,
                 "search box on page 2 holds the words")
    checks.check(again.find_element(By.NAME, "Count").get_property("value") == str(PER_PAGE),
                 "results per page on page 2 shows the chosen count")
    shot("3-results-page-2.png")

    # A result opens its document.
    checks.need(len(second["hits"]) > 0, "second page has a result to open")
    hit = second["hits"][0]
    status = follow(driver, driver.find_element(By.CSS_SELECTOR, "main a.hit-title"))
    checks.check(status == 200, "the result's document answers 200", status)
    checks.check(driver.current_url == hit["href"], "the browser is at the result's address", driver.current_url)
    title = driver.title.strip()
    checks.check(title != "" and title == hit["title"], "the document's title is the result's link text",
                 f'"{title}" against "{hit["title"]}"')
    shot("4-result-document.png")

    if opt.docs_url:
        visit_docs(driver, traffic, checks, opt)
    traffic.gather()
    checks.check(not traffic.script_errors, "no script errors in the pages", "; ".join(traffic.script_errors))
    sites = {base.netloc} | ({urllib.parse.urlsplit(opt.docs_url).netloc} if opt.docs_url else set())
    off_site = traffic.off_site(sites)
    checks.check(not off_site, "the pages asked for nothing outside the site", " ".join(off_site))


def main():
    parser = argparse.ArgumentParser(description="The demo in headless Chromium.")
    parser.add_argument("--url", required=True)
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("--profile", required=True)
    parser.add_argument("--docs-url", help="a second demo, started with --docs")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    opt = parser.parse_args()
    shutil.rmtree(opt.profile, ignore_errors=True)
    os.makedirs(opt.profile)
    os.makedirs(opt.screenshots, exist_ok=True)

    checks = Checks()
    try:
        driver = start_browser(opt)
    except Exception as error:
        print(f"FAIL: Chromium did not start: {error}", flush=True)
        return 1
    try:
        traffic = Traffic(driver)
        visit(driver, traffic, checks, opt)
    except Exception as error:
        print(f"FAIL: {type(error).__name__}: {error}", flush=True)
        checks.failures += 1
    finally:
        driver.quit()
    print(f"Screenshots in {opt.screenshots}")
    print(f"{'PASS' if checks.failures == 0 else 'FAIL'}: browser demo test, {checks.failures} failed check(s)")
    return 0 if checks.failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
