"""The review page's reviews, exceptions, chart, printed copy and
accessibility in a real browser (headless Chromium through WebDriver),
against the real program and a real server.

Usage: review_print.py URL TRAIL MACHINE SHOTS_DIR EVENT_TYPES_CPP
  URL              the address the program printed, token included
  TRAIL            the trail file that was shipped (the expectations come from it)
  MACHINE          the machine it was shipped as
  SHOTS_DIR        where the screenshots go
  EVENT_TYPES_CPP  the library's table of event types (which types a category holds)

axe-core is looked for in $QZ45_AXE_DIR, else where scripts/setup.sh puts it.
Prints "FAIL: ..." for each check that fails and "review print: ok" when all
pass; the exit code is 0 only then.
"""
import json
import os
import re
import sys
from collections import Counter
from datetime import datetime
from urllib.parse import parse_qs, quote, urlsplit
from zoneinfo import ZoneInfo

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from review_webdriver import check, chromium, click_and_wait, failures

url, trail_path, machine, shots, types_cpp = sys.argv[1:6]
base = "{0.scheme}://{0.netloc}".format(urlsplit(url))
zone = ZoneInfo("Europe/Berlin")  # the page's, as review_print.sh starts it
axe_js = os.path.join(os.environ.get("QZ45_AXE_DIR", "/usr/local/share/qz45/axe"),
                      "node_modules", "axe-core", "axe.min.js")


def trail_times():
    with open(trail_path, encoding="utf-8") as f:
        return [datetime.fromisoformat(json.loads(l)["properties"]["EventTime"]["utc"]
                                       .replace("Z", "+00:00")) for l in f]


def refused_types():
    """Every type the library files under category 203, by name."""
    text = open(types_cpp, encoding="utf-8").read()
    return re.findall(r'\{\s*\d+,\s*"([^"]+)",\s*203\s*\}', text)


driver = chromium()
period = "from=2026-01-01T00:00&to=2026-01-05T00:00&machine=" + quote(machine)

# The words of the cells matched that the browser laid out over two lines (a
# line may end after a hyphen: "start-" and "up" are words of their own).
BROKEN_WORDS = """
const broken = [];
for (const cell of document.querySelectorAll(arguments[0])) {
  const walker = document.createTreeWalker(cell, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const re = /[^\\s-]+-?/g;
    let m;
    while ((m = re.exec(node.data)) !== null) {
      const range = document.createRange();
      range.setStart(node, m.index);
      range.setEnd(node, m.index + m[0].length);
      const tops = new Set(Array.from(range.getClientRects()).map(r => Math.round(r.top)));
      if (tops.size > 1) broken.push(m[0]);
    }
  }
}
return broken;
"""


def axe(where):
    """axe-core's serious and critical violations on the page shown."""
    driver.execute_script(open(axe_js, encoding="utf-8").read())
    result = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document).then(r => done({passes: r.passes.length, violations: r.violations.map("
        "v => ({id: v.id, impact: v.impact, nodes: v.nodes.map(n => n.target.join(' ')).slice(0, 3)}))}))"
        ".catch(e => done({passes: 0, violations: [{id: 'axe failed: ' + e, impact: 'critical'}]}));")
    check(result["passes"] > 0, "axe-core checked nothing on the %s page" % where)
    bad = [v for v in result["violations"] if v["impact"] in ("serious", "critical")]
    print("axe-core on the %s page: %d rules passed, %d violations (%s)" % (
        where, result["passes"], len(result["violations"]),
        ", ".join(v["id"] + " " + str(v["impact"]) for v in result["violations"])), flush=True)
    check(not bad, "axe-core on the %s page: %s" % (where, bad))


def record(fields):
    """Fills the reviews form and sends it."""
    driver.get(base + "/reviews")
    for name in ("from", "to"):
        driver.execute_script("arguments[0].value = arguments[1]",
                              driver.find_element(By.NAME, name), fields.get(name, ""))
    driver.find_element(By.NAME, "machines").send_keys(fields["machines"])
    driver.find_element(By.CSS_SELECTOR, "input[name=meaning][value='%s']" % fields["meaning"]).click()
    driver.find_element(By.NAME, "remark").send_keys(fields["remark"])
    click_and_wait(driver, driver.find_element(By.ID, "record"), 150)


def error_shown():
    return " ".join(e.text for e in driver.find_elements(By.CSS_SELECTOR, "p.error"))


def exceptions_and_chart():
    driver.get(base + "/overview?" + period)
    axe("overview")
    refused = driver.find_element(By.ID, "refused")
    types = refused.find_element(By.CSS_SELECTOR, ".types").text
    names = refused_types()
    check(len(names) >= 20, "the library's 203 types did not read: %s" % names)
    listed = [t.strip() for t in types.split(".")[0].replace("Types:", "").split(",")]
    check(sorted(listed) == sorted(names),
          "the refused panel lists %s, the library %s" % (listed, names))
    check("not its type" in types, "the refused panel does not say the trail keeps no type")
    rows = refused.find_elements(By.CSS_SELECTOR, "tbody tr")
    check(len(rows) == 4, "the refused panel shows %d rows, not 4" % len(rows))
    if rows:
        first = rows[0]
        check(first.find_element(By.CSS_SELECTOR, "td.machine").text == machine,
              "a refused row's machine: %s" % first.text)
        check(first.find_elements(By.CSS_SELECTOR, "td.value") and
              first.find_elements(By.CSS_SELECTOR, "td.property"), "a refused row lacks its values")
    links = refused.find_elements(By.CSS_SELECTOR, "td.descriptor a[href^='/history?']")
    check(links, "the refused rows' descriptors do not link to their history")
    broken = driver.execute_script(BROKEN_WORDS, "#exceptions td")
    check(not broken, "words broken in the exceptions panels: %s" % broken)

    # The chart by local day: what the trail holds, counted in Berlin.
    days = Counter(t.astimezone(zone).strftime("%Y-%m-%d") for t in trail_times())
    shown = {}
    for row in driver.find_elements(By.CSS_SELECTOR, "#chart-values tbody tr"):
        day = row.find_element(By.TAG_NAME, "th").text
        shown[day] = sum(int(c.text) for c in row.find_elements(By.TAG_NAME, "td"))
    check(shown == dict(days), "the chart counts %s, the trail by local day %s" % (shown, dict(days)))
    svg = driver.find_element(By.CSS_SELECTOR, "svg.chart")
    check(svg.get_attribute("aria-labelledby") == "chart-title", "the chart has no accessible name")
    driver.save_screenshot(os.path.join(shots, "print-overview.png"))

    # The count opens the full list: every refused event, and only those.
    click_and_wait(driver, refused.find_element(By.CSS_SELECTOR, "h2 a.all"))
    query = parse_qs(urlsplit(driver.current_url).query)
    check(query.get("category") == ["203"], "the count's list is %s" % driver.current_url)
    categories = [c.text for c in driver.find_elements(By.CSS_SELECTOR, "#events td.category")]
    check(len(categories) == 4 and all(c.startswith("203") for c in categories),
          "the refused list shows %s" % categories)
    axe("events")
    click_and_wait(driver, driver.find_element(By.CSS_SELECTOR, "#events td.descriptor a"))
    axe("history")


def printed_copy():
    driver.get(base + "/print?" + period)
    axe("print")
    end = driver.find_element(By.ID, "end").text
    check(end == "End of copy: 8 rows.", "the copy ends with '%s'" % end)
    head = driver.find_element(By.CSS_SELECTOR, "tr.print-head").text
    check("+01:00" in head and "2026-01-01 00:00" in head,
          "the copy's head gives no period with its zone: %s" % head)
    # As printed on A4 across: the why column wide enough for its words.
    driver.set_window_size(1047, 1000)
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": "print"})
    widths = driver.execute_script(
        "return Array.from(document.querySelectorAll('#print td.message'), c => c.offsetWidth)")
    check(widths and min(widths) >= 150, "the why column printed %s px wide" % widths)
    broken = driver.execute_script(BROKEN_WORDS, "#print td")
    check(not broken, "words broken in the printed copy: %s" % broken)
    driver.save_screenshot(os.path.join(shots, "print-copy.png"))
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": ""})
    driver.set_window_size(1400, 1000)


def reviews():
    driver.get(base + "/reviews")
    axe("reviews")
    before = len(driver.find_elements(By.CSS_SELECTOR, "#reviews tbody tr"))
    record({"from": "2026-01-03T00:00", "to": "2026-01-02T00:00", "machines": machine,
            "meaning": "reviewed, no exceptions", "remark": "print test: refused, reversed"})
    check("ends before it starts" in error_shown(), "a reversed period: '%s'" % error_shown())
    kept = driver.find_element(By.NAME, "remark").get_attribute("value")
    check(kept == "print test: refused, reversed", "the refused form kept the remark '%s'" % kept)
    record({"from": "2026-01-01T00:00", "to": "2026-01-03T00:00", "machines": "no-such-pc",
            "meaning": "reviewed, no exceptions", "remark": "print test: refused, unknown"})
    check("No machine no-such-pc" in error_shown(), "an unknown machine: '%s'" % error_shown())
    record({"from": "2026-01-01T00:00", "to": "2099-01-03T00:00", "machines": machine,
            "meaning": "reviewed, no exceptions", "remark": "print test: refused, future"})
    check("in the future" in error_shown(), "a period in the future: '%s'" % error_shown())
    driver.get(base + "/reviews")
    after = len(driver.find_elements(By.CSS_SELECTOR, "#reviews tbody tr"))
    check(after == before, "refused reviews are listed (%d rows, %d before)" % (after, before))

    record({"from": "2026-01-01T00:00", "to": "2026-01-03T00:00", "machines": machine,
            "meaning": "reviewed, exceptions noted", "remark": "print test: batch 1 checked"})
    said = driver.find_elements(By.ID, "recorded")
    text = said[0].text if said else ""
    check("reviewed, exceptions noted" in text and "print test: batch 1 checked" in text and
          machine + " line 8, hash " in text and "2026-01-01 00:00" in text,
          "the confirmation says '%s'" % text)
    listed = driver.find_elements(By.CSS_SELECTOR, "#reviews tbody tr")
    check(listed and "reviewed, exceptions noted" in listed[0].text and "{" not in
          listed[0].find_element(By.CSS_SELECTOR, "td.positions").text,
          "the review listed: %s" % (listed[0].text if listed else ""))
    axe("reviews with a review recorded")
    driver.save_screenshot(os.path.join(shots, "print-reviews.png"))


try:
    driver.get(url)  # the token into a cookie
    check(os.path.exists(axe_js), "no axe-core at %s: run scripts/setup.sh" % axe_js)
    exceptions_and_chart()
    printed_copy()
    reviews()
    # Keyboard first: the skip link is the first thing a tab reaches.
    driver.get(base + "/")
    first = driver.execute_script("return document.querySelector('a, button, input, select')")
    check(first.get_attribute("class") == "skip" and
          first.get_attribute("href").endswith("#main"), "the first link is not the skip link")
finally:
    driver.quit()

if failures:
    sys.exit(1)
print("review print: ok")
