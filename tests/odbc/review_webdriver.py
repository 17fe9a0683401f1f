"""What the review page's browser tests (review_browser.py, review_print.py, review_answers.py, ...)
share: headless Chromium through its WebDriver, and checks that say what
failed and go on."""
import os

from selenium import webdriver

failures = []


def check(ok, what):
    """Records and prints a failed check."""
    if not ok:
        failures.append(what)
        print("FAIL: " + what, flush=True)


def chromium(downloads=None):
    """Headless Chromium, 1400 by 1000, saving downloads into `downloads`."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--no-first-run", "--window-size=1400,1000"):
        options.add_argument(flag)
    if downloads is not None:
        options.add_experimental_option("prefs", {
            "download.default_directory": os.path.abspath(downloads),
            "download.prompt_for_download": False,
        })
    service = webdriver.ChromeService(executable_path="/usr/bin/chromedriver") \
        if hasattr(webdriver, "ChromeService") else \
        webdriver.chrome.service.Service(executable_path="/usr/bin/chromedriver")
    driver = webdriver.Chrome(options=options, service=service)
    driver.set_page_load_timeout(60)
    return driver


def click_and_wait(driver, element, timeout=60):
    """Clicks `element` and waits until the page it leads to has replaced this one. The old
    page is marked first, so the wait never reads an element of a page being torn down."""
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.support.ui import WebDriverWait

    driver.execute_script("window.qz45OldPage = true")
    element.click()

    def replaced(d):
        try:
            return d.execute_script(
                "return window.qz45OldPage === undefined && document.readyState === 'complete'")
        except WebDriverException:
            return False  # the old page is being torn down

    WebDriverWait(driver, timeout).until(replaced)
