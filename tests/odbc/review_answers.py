"""The review page answers as the console does, in a real browser (headless
Chromium through WebDriver) against the real program and a real server.

Usage: review_answers.py URL WINE ODBC
  URL   the address the program printed, token included
  WINE  how to run a Windows program (qz45trail.exe is in the directory)
  ODBC  the connection string the console view reads the database with

Prints "FAIL: ..." for each check that fails; the exit code is 0 only when
none does.
"""
import csv
import io
import subprocess
import sys
import urllib.error
import urllib.request
from urllib.parse import quote, urlsplit

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from review_webdriver import chromium, click_and_wait

url, wine, odbc = sys.argv[1:4]
base = "{0.scheme}://{0.netloc}".format(urlsplit(url))
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what, flush=True)


driver = chromium()


def rows(table_id):
    return driver.find_elements(By.CSS_SELECTOR, "#%s tbody tr" % table_id)


def cells(table_id, cls):
    return [r.find_element(By.CSS_SELECTOR, "td." + cls).text for r in rows(table_id)]


def page_rows(query):
    """The machine and line of each row the events page shows."""
    driver.get(base + "/?" + query)
    return [(r.find_element(By.CSS_SELECTOR, "td.machine").text,
             int(r.find_element(By.CSS_SELECTOR, "td.line").text.split()[0])) for r in rows("events")]


def fetch(path):
    """Status and body of a page fetched with the browser's cookie."""
    cookie = "; ".join("%s=%s" % (c["name"], c["value"]) for c in driver.get_cookies())
    request = urllib.request.Request(base + path, headers={"Cookie": cookie})
    try:
        with urllib.request.urlopen(request, timeout=60) as r:
            return r.status, r.read().decode("utf-8-sig")
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode("utf-8", "replace")


def csv_rows(query):
    status, body = fetch("/export.csv?" + query)
    check(status == 200, "the CSV of %s: %d" % (query, status))
    return [(r[0], int(r[1])) for r in list(csv.reader(io.StringIO(body)))[1:] if r]


def console_rows(args):
    out = subprocess.run([wine, "qz45trail.exe", "--odbc", odbc, "--format", "csv"] + args,
                         capture_output=True, timeout=300)
    check(out.returncode == 0, "the console view %s ended with %d: %s"
          % (args, out.returncode, out.stderr.decode("utf-8", "replace")))
    text = out.stdout.decode("utf-8-sig", "replace")
    return [(r[0], int(r[1])) for r in list(csv.reader(io.StringIO(text)))[1:] if r]


try:
    driver.get(url)

    # The same filters to the page, its CSV and the console's view: the same
    # rows. The page runs an hour east of UTC; the console takes UTC.
    sets = [
        ("descriptor=fic101", ["--descriptor", "fic101"]),
        ("user=Op2", ["--user", "Op2"]),
        ("user=" + quote("plant\\op2"), ["--user", "plant\\op2"]),
        ("user=" + quote("MÜLLER"), ["--user", "MÜLLER"]),
        ("property=sp&descriptor=FIC101", ["--property", "sp", "--descriptor", "FIC101"]),
        ("category=203", ["--category", "203"]),
        ("from=2026-01-01T10:00&to=2026-01-01T12:00",
         ["--since", "2026-01-01T09:00:00Z", "--until", "2026-01-01T11:00:00Z"]),
    ]
    for query, args in sets:
        for machine in ("answers-a", "ANSWERS-B"):
            q = query + "&machine=" + machine
            console = sorted(console_rows(args + ["--machine", machine]))
            page = sorted(page_rows(q))
            check(console or machine != "answers-a",
                  "%s selects nothing in the console: a filter set that tells nothing" % q)
            check(page == console, "%s: the page shows %s, the console %s" % (q, page, console))
            check(sorted(csv_rows(q)) == console, "%s: the CSV differs from the console" % q)
    # Over every machine the database holds: the CSV and the console (but
    # for the paging rows below, whose columns were made apart from their
    # lines).
    for query, args in sets:
        ours = sorted(r for r in csv_rows(query) if r[0] != "answers-p")
        theirs = sorted(r for r in console_rows(args) if r[0] != "answers-p")
        check(ours == theirs, "%s over every machine: the CSV has %s, the console %s"
              % (query, ours, theirs))

    # Values as the console shows them, and the time each row was stored:
    # all long after their event time, so flagged.
    driver.get(base + "/?machine=answers-a&descriptor=fic101&property=out")
    check(cells("events", "value") == ["R4 0.1 → R4 0.25"],
          "single precision values: %s" % cells("events", "value"))
    driver.get(base + "/?machine=answers-a")
    flagged = driver.find_elements(By.CSS_SELECTOR, "#events td.submitted.off")
    check(len(flagged) == len(rows("events")) == 6 and all(f.text.endswith("!") for f in flagged),
          "events stored days after their time are not all flagged: %d of %d"
          % (len(flagged), len(rows("events"))))
    # They have a panel of their own on the overview, whose count lists them.
    driver.get(base + "/overview?from=2026-01-01T00:00&to=2026-01-02T00:00&machine=answers-a")
    panel = driver.find_elements(By.CSS_SELECTOR, "#stored-off h2 a.all")
    check(panel and panel[0].text == "6", "the panel of events stored off their time: %s"
          % [p.text for p in panel])
    if panel:
        click_and_wait(driver, panel[0])
        flagged = driver.find_elements(By.CSS_SELECTOR, "#events td.submitted.off")
        check(len(flagged) == len(rows("events")) == 6,
              "the panel's list: %d rows, %d flagged" % (len(rows("events")), len(flagged)))
    zone = driver.find_element(By.CSS_SELECTOR, "header .zone").text
    check("UTC+01:00" in zone, "the header does not name the zone and its offset: %r" % zone)

    # A record's history, from a click on its descriptor: both machines',
    # oldest first, the machine in each row.
    driver.get(base + "/?machine=answers-a&descriptor=FIC101&property=SP")
    links = driver.find_elements(By.CSS_SELECTOR, "#events td.descriptor a")
    check(links, "no history link on FIC101 SP")
    if links:
        click_and_wait(driver, links[0])
        WebDriverWait(driver, 20).until(lambda d: d.find_elements(By.ID, "history"))
        machines = [m.split(" ")[0] for m in cells("history", "machine")]
        check(set(machines) >= {"answers-a", "answers-b"},
              "the history of FIC101 SP spans %s, not both machines" % machines)
        values = [v for m, v in zip(machines, cells("history", "value"))
                  if m.startswith("answers") and "→" in v]
        check(values == ["R8 40 → R8 45", "R8 45 → R8 40"], "the history's values: %s" % values)
        only = driver.find_elements(By.LINK_TEXT, "only answers-b")
        check(only, "no link restricting the history to answers-b")
        if only:
            click_and_wait(driver, only[0])
            WebDriverWait(driver, 20).until(lambda d: "machine=answers-b" in d.current_url)
            check({m.split(" ")[0] for m in cells("history", "machine")} == {"answers-b"},
                  "the history restricted to answers-b shows others")

    # Paging: totals, links above and below, each page continuing from the
    # last row of the one before, and back.
    order = csv_rows("machine=answers-p")
    check(len(order) == 250, "answers-p has %d rows, not 250" % len(order))

    def said():
        return [s.text for s in driver.find_elements(By.CSS_SELECTOR, "nav.pages .rows")]

    driver.get(base + "/?machine=answers-p")
    check(said() == ["rows 1–100 of 250, page 1 of 3"] * 2, "the first page says %s" % said())
    first = page_rows("machine=answers-p")
    check(first == order[:100], "the first page is not the first 100 rows")
    click_and_wait(driver, driver.find_element(By.ID, "older-top"))
    WebDriverWait(driver, 20).until(lambda d: "page=2" in d.current_url)
    check(said() == ["rows 101–200 of 250, page 2 of 3"] * 2, "the second page says %s" % said())
    second = [(r.find_element(By.CSS_SELECTOR, "td.machine").text,
               int(r.find_element(By.CSS_SELECTOR, "td.line").text.split()[0])) for r in rows("events")]
    check(second == order[100:200], "the second page is not rows 101-200")
    click_and_wait(driver, driver.find_element(By.ID, "older"))
    WebDriverWait(driver, 20).until(lambda d: "page=3" in d.current_url)
    check(said() == ["rows 201–250 of 250, page 3 of 3"] * 2, "the last page says %s" % said())
    check(not driver.find_elements(By.ID, "older"), "the last page links to a next one")
    click_and_wait(driver, driver.find_element(By.ID, "newer"))
    WebDriverWait(driver, 20).until(lambda d: "page=2" in d.current_url)
    check(said() == ["rows 101–200 of 250, page 2 of 3"] * 2, "back to the second page: %s" % said())
    click_and_wait(driver, driver.find_element(By.ID, "newer-top"))
    WebDriverWait(driver, 20).until(lambda d: "page=" not in d.current_url)
    check(said() == ["rows 1–100 of 250, page 1 of 3"] * 2, "back to the first page: %s" % said())

    # What does not read is a 400 with its reason, on the page and its CSV.
    for query, reason in [
        ("category=-9223372036854775808", "is out of range"),
        ("from=2026-01-02&to=2026-01-01", "is not after from"),
        ("category=x", "is not a number"),
    ]:
        for path in ("/?", "/export.csv?"):
            status, body = fetch(path + query)
            check(status == 400 and reason in body.replace("&quot;", '"'),
                  "%s%s: %d, %s" % (path, query, status, body[:200]))
        driver.get(base + "/?" + query)
        errors = [e.text for e in driver.find_elements(By.CSS_SELECTOR, "p.error")]
        check(any(reason in e for e in errors), "%s shows %s" % (query, errors))
finally:
    driver.quit()

sys.exit(1 if failures else 0)
