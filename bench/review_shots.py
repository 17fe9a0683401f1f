"""Screenshots of the review page over a plant's day, for the README: the
events of the day, its overview and one record's history, in headless
Chromium.

Usage: review_shots.py URL FROM TO DESCRIPTOR PROPERTY DIR
  URL       the address the page printed, token included
  FROM, TO  the day, in the page's local time (2026-12-08T00:00)
  DIR       where review-events.png, review-overview.png and
            review-history.png go
"""
import os
import sys
from urllib.parse import quote, urlsplit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "odbc"))
from review_webdriver import chromium  # noqa: E402

url, day_from, day_to, descriptor, prop, out = sys.argv[1:7]
base = "{0.scheme}://{0.netloc}".format(urlsplit(url))
day = "from=%s&to=%s" % (quote(day_from), quote(day_to))
driver = chromium()
try:
    driver.set_window_size(1400, 1000)
    driver.get(url)  # the token, for the cookie
    for name, path in (("review-events.png", "/?" + day),
                       ("review-overview.png", "/overview?" + day),
                       ("review-history.png", "/history?descriptor=%s&property=%s"
                        % (quote(descriptor), quote(prop)))):
        driver.get(base + path)
        driver.save_screenshot(os.path.join(out, name))
        print("screenshot: " + os.path.join(out, name))
finally:
    driver.quit()
