"""The review page's background checks in a real browser (headless Chromium
through WebDriver), against the real program and a real server.

Usage: review_watch.py URL EDIT
  URL   the address the program printed, token included
  EDIT  a shell command that edits the stored trail as a superuser would

Waits until the overview calls every chain intact (watch-u, begun before
chaining, with --unchained 2), runs EDIT, and expects the overview and the
printed copy to show each edit within the page's pass interval; the forged
row flagged on the events page; watch-u silent; a review recorded with its
fresh check. Prints "FAIL: ..." per failed check.
"""
import re
import subprocess
import sys
import time
from urllib.parse import urlsplit

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from review_webdriver import check, chromium, click_and_wait, failures

url, edit = sys.argv[1:3]
base = "{0.scheme}://{0.netloc}".format(urlsplit(url))
DASH = "\u2013"
CLOCK = r"checked \d\d:\d\d:\d\d"
# How long an edit may take to show: the one-second pause, a pass over
# eighteen rows, and a slow machine's margin.
SHOWN_WITHIN = 20


driver = chromium()
driver.set_page_load_timeout(180)


def chains():
    """Each machine's row of the overview's machines table, by name."""
    driver.get(base + "/overview")
    out = {}
    for r in driver.find_elements(By.CSS_SELECTOR, "#machines tbody tr"):
        cells = [c.text for c in r.find_elements(By.CSS_SELECTOR, "td")]
        out[cells[0]] = cells
    return out


def printed():
    """The printed copy's head."""
    driver.get(base + "/print")
    return driver.find_element(By.CSS_SELECTOR, "#print .print-head").text


def wait_for(wanted, seconds):
    """The overview's rows once wanted(rows) holds, or the last ones seen."""
    end = time.time() + seconds
    rows = {}
    while time.time() < end:
        rows = chains()
        if wanted(rows):
            break
        time.sleep(0.5)
    return rows


expected_intact = {"watch-a": 6, "watch-b": 6, "watch-u": 4}
expected_broken = {
    "watch-a": r"^first bad line 3 \(line 3: column message does not match.*\), lines 1%s6, %s$" % (DASH, CLOCK),
    "watch-b": r"^first bad line 4 \(line 4: .*\), lines 1%s6, %s$" % (DASH, CLOCK),
    "watch-u": r"^first bad line 4 \(.*\), lines 1%s4: 3 stored, line 4 missing, %s$" % (DASH, CLOCK),
}
try:
    driver.get(url)

    def all_intact(rows):
        return all(m in rows and re.match(r"^intact, lines 1%s%d, %s$" % (DASH, n, CLOCK), rows[m][3])
                   for m, n in expected_intact.items())

    rows = wait_for(all_intact, 120)
    check(all_intact(rows), "the chains before the edits: %s" % rows)
    check(rows.get("watch-u", ["", "", "", ""])[1] == "4", "watch-u's lines stored: %s" % rows.get("watch-u"))
    check("silent" in rows.get("watch-u", ["", "", ""])[2], "watch-u is not silent: %s" % rows.get("watch-u"))
    check("silent" not in rows.get("watch-a", ["", "", ""])[2], "watch-a is silent: %s" % rows.get("watch-a"))
    # Other tests' machines may be silent too: only this test's are judged.
    silent = [r.text.split(" ")[0] for r in driver.find_elements(By.CSS_SELECTOR, "#silent tr")]
    check([m for m in silent if m.startswith("watch-")] == ["watch-u"],
          "the overview's silent machines: %s" % silent)
    head = printed()
    check(re.search(r"watch-a 6 lines stored, chain intact, lines 1%s6, %s" % (DASH, CLOCK), head),
          "the printed copy before the edits: %s" % head)

    subprocess.run(edit, shell=True, check=True)
    edited = time.time()

    def all_broken(rows):
        return all(m in rows and re.match(p, rows[m][3]) for m, p in expected_broken.items())

    rows = wait_for(all_broken, SHOWN_WITHIN)
    took = time.time() - edited
    check(all_broken(rows), "the chains %.0f s after the edits: %s" % (took, {m: r[3] for m, r in rows.items()}))
    check(rows.get("watch-u", ["", ""])[1] == "3", "watch-u's lines stored after the delete: %s" % rows.get("watch-u"))
    print("the edits showed %.1f s after they were made" % took)

    head = printed()
    for m, p in expected_broken.items():
        check(re.search(m + r" \d+ lines stored, chain " + p.strip("^$").split(r" \(")[0], head),
              "the printed copy after the edits, %s: %s" % (m, head))

    # The forged row: the line's own message, flagged.
    driver.get(base + "/events?machine=watch-a&sort=line")
    forged = [r for r in driver.find_elements(By.CSS_SELECTOR, "tr.event")
              if r.find_element(By.CSS_SELECTOR, "td.line").text.startswith("3")]
    check(len(forged) == 1, "watch-a line 3 is not listed once")
    if forged:
        row = forged[0]
        check("forged" in row.get_attribute("class"), "line 3 is not marked forged")
        check("forged column: message" in row.text, "line 3's flag: %s" % row.text)
        check(row.find_element(By.CSS_SELECTOR, "td.message").text == "step 3",
              "line 3 shows %s, not its line's message" % row.find_element(By.CSS_SELECTOR, "td.message").text)
    others = [r for r in driver.find_elements(By.CSS_SELECTOR, "tr.event.forged")]
    check(len(others) == 1, "%d rows of watch-a flagged, not one" % len(others))

    # A review: recorded with a check made for it.
    driver.get(base + "/reviews")
    driver.find_element(By.NAME, "machines").send_keys("watch-a")
    driver.find_element(By.CSS_SELECTOR, "input[name=meaning][value='reviewed, exceptions noted']").click()
    driver.find_element(By.NAME, "remark").send_keys("watched")
    try:
        click_and_wait(driver, driver.find_element(By.ID, "record"), 150)
        check("watched" in driver.find_element(By.ID, "reviews").text, "the review is not listed")
    except Exception:
        check(False, "the review is not listed: %s" % driver.find_element(By.TAG_NAME, "body").text[:2000].replace("\n", " | "))
finally:
    driver.quit()

if failures:
    sys.exit(1)
print("review watch: ok")
