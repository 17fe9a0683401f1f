"""The review page in a real browser (headless Chromium through WebDriver),
against the real program and a real server, over a trail the real service
wrote and the shipper stored.

Usage: review_browser.py URL TRAIL MACHINE SHOTS_DIR
  URL        the address the program printed, token included
  TRAIL      the trail file that was shipped (the expectations come from it)
  MACHINE    the machine it was shipped as
  SHOTS_DIR  where the screenshots and the downloaded CSV go

Prints "FAIL: ..." for each check that fails and "review browser: ok" when
all pass; the exit code is 0 only then.
"""
import csv
import json
import os
import sys
import time
from datetime import datetime, timedelta, timezone
from urllib.parse import quote, urlsplit

from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from review_webdriver import check, chromium, click_and_wait, failures

url, trail_path, machine, shots = sys.argv[1:5]
base = "{0.scheme}://{0.netloc}".format(urlsplit(url))


def lines():
    """The trail's events as dicts, with their line numbers."""
    out = []
    with open(trail_path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            e = json.loads(line)
            p, c = e["properties"], e["context"]
            out.append({
                "line": n,
                "user": c["Domain"] + "\\" + c["User"],
                "descriptor": p.get("Descriptor", ""),
                "property": p.get("Property", ""),
                "message": p.get("Message", ""),
                "utc": p["EventTime"]["utc"],
                "old": p.get("OldValue", {}).get("value"),
                "new": p.get("NewValue", {}).get("value"),
            })
    return out


events = lines()

driver = chromium(shots)


def rows(table_id):
    return driver.find_elements(By.CSS_SELECTOR, "#%s tbody tr" % table_id)


def cells(table_id, cls):
    return [r.find_element(By.CSS_SELECTOR, "td." + cls).text for r in rows(table_id)]


def no_alert(where):
    try:
        driver.switch_to.alert.dismiss()
        check(False, "a script ran on " + where + " (an alert opened)")
    except NoAlertPresentException:
        pass


try:
    # Without the token: 403, nothing of the trail.
    driver.get(base + "/")
    check("403 Forbidden" in driver.page_source, "a request without the token is not refused")
    check(machine not in driver.page_source, "a refused request shows the trail")

    # With it: the cookie keeps it; the address no longer shows it. The
    # database may hold other machines too: every page here asks for this one.
    driver.get(url)
    check("token=" not in driver.current_url, "the token stays in the address")
    here = base + "/?machine=" + quote(machine)
    driver.get(here)
    check(any(c["name"] == "qz45review" and c.get("httpOnly") for c in driver.get_cookies()),
          "no HttpOnly cookie holds the token")
    check(len(rows("events")) == len(events), "the first page has %d rows, the trail %d lines"
          % (len(rows("events")), len(events)))
    driver.save_screenshot(os.path.join(shots, "events.png"))

    # A user, typed into the form (the machine chosen already): exactly that
    # user's rows.
    field = driver.find_element(By.NAME, "user")
    field.clear()
    field.send_keys("op2")
    click_and_wait(driver, driver.find_element(By.ID, "show"))
    WebDriverWait(driver, 20).until(lambda d: "user=op2" in d.current_url)
    want = sorted(e["line"] for e in events if e["user"] == "PLANT\\op2")
    got = sorted(int(n) for n in cells("events", "line"))
    check(got == want, "user op2: lines %s, the trail has %s" % (got, want))
    check(set(cells("events", "user")) == {"PLANT\\op2"}, "user op2 lists others")

    # A user beyond ASCII, with its domain.
    driver.get(here + "&user=" + quote("WERK\\müller"))
    got = cells("events", "user")
    check(got == ["WERK\\müller"] * sum(e["user"] == "WERK\\müller" for e in events),
          "user WERK\\müller: %s" % got)

    # A time range, in the page's local time: the program runs an hour east
    # of UTC (TZ=Europe/Berlin, winter).
    local = timezone(timedelta(hours=1))
    start, end = "2026-01-01T09:30", "2026-01-01T12:30"
    driver.get(here + "&from=%s&to=%s" % (start, end))
    lo = datetime(2026, 1, 1, 9, 30, tzinfo=local)
    hi = datetime(2026, 1, 1, 12, 30, tzinfo=local)
    want = sorted(e["line"] for e in events
                  if lo <= datetime.fromisoformat(e["utc"].replace("Z", "+00:00")) < hi)
    got = sorted(int(n) for n in cells("events", "line"))
    check(got == want and want, "from %s to %s: lines %s, the trail has %s" % (start, end, got, want))
    titles = [r.find_element(By.CSS_SELECTOR, "td.time").get_attribute("title") for r in rows("events")]
    check(all(t.endswith("Z UTC") for t in titles), "the time cells do not carry UTC: %s" % titles)
    shown = cells("events", "time")
    want = [datetime.fromisoformat(t[:-5].replace("Z", "+00:00")).astimezone(local)
            .strftime("%Y-%m-%d %H:%M:%S.000 +01:00") for t in titles]
    check(shown == want, "local times %s, expected %s" % (shown, want))

    # One record's history, from a click on its descriptor: every event on it,
    # oldest first, with its old and new values and its why.
    driver.get(here + "&descriptor=FIC101&property=SP")
    click_and_wait(driver, driver.find_element(By.CSS_SELECTOR, "#events td.descriptor a"))
    WebDriverWait(driver, 20).until(lambda d: d.find_elements(By.ID, "history"))
    # It spans every machine the database holds; this trail's is one of them.
    click_and_wait(driver, driver.find_element(By.LINK_TEXT, "only " + machine))
    WebDriverWait(driver, 20).until(lambda d: "machine=" in d.current_url)
    history = [e for e in events if e["descriptor"] == "FIC101" and e["property"] == "SP"]
    history.sort(key=lambda e: (e["utc"], e["line"]))
    check(driver.find_element(By.TAG_NAME, "h1").text == "History of FIC101 SP on " + machine,
          "the history page is not FIC101's")
    check(cells("history", "message") == [e["message"] for e in history],
          "history messages %s, the trail's %s" % (cells("history", "message"),
                                                   [e["message"] for e in history]))
    times = [r.find_element(By.CSS_SELECTOR, "td.time").get_attribute("title") for r in rows("history")]
    check(times == sorted(times), "the history is not in time order: %s" % times)
    # Numbers as the console shows them: their shortest text, 2 and not 2.0.
    def number(v):
        text = repr(float(v))
        return text[:-2] if text.endswith(".0") else text
    want = ["R8 %s → R8 %s" % (number(e["old"]), number(e["new"])) if e["old"] is not None else None
            for e in history]
    got = cells("history", "value")
    check(all(w is None or w == g for w, g in zip(want, got)) and any(want),
          "the history's old → new values %s, the trail's %s" % (got, want))

    # Markup in a descriptor and a message is text, and runs nothing.
    driver.get(here + "&user=" + quote("PLANT\\admin"))
    no_alert("the events page")
    check("<img src=x onerror=alert(2)>" in cells("events", "descriptor"),
          "the descriptor with markup is not shown as text: %s" % cells("events", "descriptor"))
    check("<script>alert(1)</script>" in cells("events", "message"),
          "the message with a script is not shown as text: %s" % cells("events", "message"))
    check(not driver.find_elements(By.CSS_SELECTOR, "main img, main script"),
          "markup from the trail became elements of the page")
    click_and_wait(driver, driver.find_element(By.CSS_SELECTOR, "#events td.descriptor a"))
    WebDriverWait(driver, 20).until(lambda d: d.find_elements(By.ID, "history"))
    no_alert("the history page of the descriptor with markup")

    # The CSV of a filter: the filtered rows, byte for byte in their texts,
    # non-ASCII included, formulas made inert.
    driver.get(here + "&user=op2")
    shown = sorted(int(n) for n in cells("events", "line"))
    for old in os.listdir(shots):
        if old.endswith(".csv") or old.endswith(".crdownload"):
            os.remove(os.path.join(shots, old))
    driver.find_element(By.ID, "csv").click()
    path = os.path.join(shots, "audit-trail.csv")

    def downloaded():
        # Done when the file is there, no part is still being written, and
        # its size holds still.
        if not os.path.exists(path) or any(f.endswith(".crdownload") for f in os.listdir(shots)):
            return False
        size = os.path.getsize(path)
        time.sleep(0.2)
        return size > 0 and size == os.path.getsize(path)

    for _ in range(100):
        if downloaded():
            break
        time.sleep(0.1)
    check(os.path.exists(path), "the CSV was not downloaded")
    if os.path.exists(path):
        raw = open(path, "rb").read()
        check(raw.startswith(b"\xef\xbb\xbf"), "the CSV has no byte order mark")
        check(b"\r\n" in raw and raw.count(b"\n") == raw.count(b"\r\n"), "the CSV's lines do not end in CR LF")
        table = list(csv.DictReader(open(path, encoding="utf-8-sig", newline="")))
        check(sorted(int(r["line"]) for r in table) == shown,
              "the CSV holds lines %s, the page %s" % ([r["line"] for r in table], shown))
        by_line = {e["line"]: e for e in events}
        for r in table:
            e = by_line[int(r["line"])]
            m = e["message"]
            inert = "'" + m if m[:1] in ("=", "+", "-", "@") else m
            check(r["message"] == inert, "CSV line %s message %r, expected %r" % (r["line"], r["message"], inert))
            check(r["event_time_utc"] == e["utc"], "CSV line %s time %s" % (r["line"], r["event_time_utc"]))
            check(r["machine"] == machine, "CSV line %s machine %s" % (r["line"], r["machine"]))

    # The exceptions first, and the picture.
    driver.get(base + "/overview?from=2026-01-01T00:00&to=2026-01-02T00:00&machine=" + quote(machine))
    counts = {s.get_attribute("id"): int(s.find_element(By.CSS_SELECTOR, ".count").text)
              for s in driver.find_elements(By.CSS_SELECTOR, "#exceptions section")}
    check(counts.get("refused") == 1 and counts.get("security") == 1 and counts.get("startups") == 2,
          "exception counts %s" % counts)
    # The chain is checked between requests: wait until it is done.
    def status_row():
        for r in driver.find_elements(By.CSS_SELECTOR, "#machines tbody tr"):
            if r.find_element(By.CSS_SELECTOR, "td").text == machine:
                return r
        return None

    for _ in range(120):
        row = status_row()
        chain = row.find_element(By.CSS_SELECTOR, "td:last-child").text if row else ""
        if row is None or "checking" in chain:
            time.sleep(0.5)
            driver.refresh()
            continue
        break
    check(chain.startswith("intact, lines 1\u20139, checked "), "the machine's chain: %s" % chain)
    check(driver.find_elements(By.CSS_SELECTOR, "svg.chart rect"), "no chart")
    driver.save_screenshot(os.path.join(shots, "overview.png"))

    # A review recorded, and listed.
    driver.get(base + "/reviews")
    driver.find_element(By.NAME, "machines").send_keys(machine)
    remark = "Januar geprüft, keine Auffälligkeiten"
    driver.find_element(By.NAME, "remark").send_keys(remark)
    driver.find_element(By.CSS_SELECTOR, "input[name=meaning][value='reviewed, no exceptions']").click()
    click_and_wait(driver, driver.find_element(By.ID, "record"))
    try:
        WebDriverWait(driver, 20).until(lambda d: remark in d.find_element(By.ID, "reviews").text)
    except Exception:
        pass
    listed = [r.text for r in rows("reviews")]
    check(listed and remark in listed[0] and machine in listed[0],
          "the review is not listed first: %s" % listed[:1])
    driver.save_screenshot(os.path.join(shots, "reviews.png"))
finally:
    driver.quit()

if failures:
    sys.exit(1)
print("review browser: ok")
