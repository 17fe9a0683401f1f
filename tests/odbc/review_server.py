"""The review page's token stays with the page: headless Chromium (through
WebDriver) opens the address the program printed, then visits other servers
listening on 127.0.0.1 (one on the page's own port number, one elsewhere)
under both 127.0.0.1 and localhost; those servers record the Cookie headers
they are sent, and none may carry the page's cookie.

Usage: review_server.py URL
Prints "FAIL: ..." for each check that fails and "review server: ok" when all
pass; the exit code is 0 only then.
"""
import http.server
import sys
import threading
from urllib.parse import urlsplit

from selenium import webdriver
from selenium.webdriver.common.by import By

url = sys.argv[1]
page = urlsplit(url)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what, flush=True)


class Recorder(http.server.BaseHTTPRequestHandler):
    """Answers every GET with a short page and keeps the Cookie it came with."""
    seen = []

    def do_GET(self):
        Recorder.seen.append((self.server.server_port, self.headers.get("Cookie", "")))
        body = b"<!doctype html><title>another server</title><p>another server"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def listen(port):
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Recorder)
    except OSError as e:
        print("(cannot listen on 127.0.0.1:%d: %s)" % (port, e))
        return None
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


servers = [s for s in (listen(page.port), listen(0)) if s is not None]
check(len(servers) > 0, "no other server could listen on 127.0.0.1")
check(page.hostname != "127.0.0.1", "the page is on 127.0.0.1, which every local server shares")

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--no-first-run"):
    options.add_argument(flag)
service = webdriver.ChromeService(executable_path="/usr/bin/chromedriver") \
    if hasattr(webdriver, "ChromeService") else \
    webdriver.chrome.service.Service(executable_path="/usr/bin/chromedriver")
driver = webdriver.Chrome(options=options, service=service)
driver.set_page_load_timeout(60)
try:
    # The page itself, the token then in a cookie.
    driver.get(url)
    check("token=" not in driver.current_url, "the token stayed in the address: " + driver.current_url)
    check(len(driver.find_elements(By.CSS_SELECTOR, "main, h1")) > 0,
          "the page did not open: " + driver.page_source[:200])
    cookies = [c for c in driver.get_cookies() if c["name"] == "qz45review"]
    check(len(cookies) == 1, "the browser keeps no cookie for the page")
    driver.get("{0.scheme}://{0.netloc}/events".format(page))
    check(len(driver.find_elements(By.CSS_SELECTOR, "main, h1")) > 0,
          "the page did not open again with its cookie")
    # Then the other servers, by both of 127.0.0.1's names.
    for server in servers:
        for name in ("127.0.0.1", "localhost"):
            driver.get("http://%s:%d/" % (name, server.server_port))
            check("another server" in driver.page_source,
                  "the browser did not reach the server on %s:%d" % (name, server.server_port))
finally:
    driver.quit()
    for server in servers:
        server.shutdown()

check(len(Recorder.seen) >= 2 * len(servers), "the other servers saw %d requests" % len(Recorder.seen))
for port, cookie in Recorder.seen:
    check("qz45review" not in cookie, "the server on port %d was sent the page's cookie: %s"
          % (port, cookie))
if failures:
    sys.exit(1)
print("review server: ok")
