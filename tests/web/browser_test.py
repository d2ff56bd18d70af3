#!/usr/bin/env python3
"""`ulvaren ui` in a real browser: headless chromium, driven through selenium.

A set whose pre-backup script waits for a release file is started from the
page; the test watches its row while it is held there and checks the
toolbar. A second set, started behind it, is paused from the toolbar while
it waits its turn: once the first is let go, the second starts paused and
copies nothing until it is resumed. A third set named as HTML markup must
show as text. The window must fit from 400 px wide to a full screen.
Screenshots of the window go to --screenshots.

Usage: browser_test.py --binary PATH/TO/ulvaren --screenshots DIR
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# Time-outs only: every wait ends on what the page shows.
PAGE_TIMEOUT = 60
EXIT_TIMEOUT = 60

MARKUP_NAME = "<img src=x onerror=alert(1)>"

# What the command rules give while the selected set waits in its
# pre-backup script: the run is in progress but not active, so neither stop
# nor pause reach it, pause-all is checked but cannot be changed, and the
# log the run has opened can be viewed. {name: (enabled, checked)}.
HELD_COMMANDS = {
    "start-all": (False, False),
    "stop-all": (True, False),
    "start": (True, False),
    "stop": (False, False),
    "pause": (False, False),
    "pause-all": (False, True),
    "add": (False, False),
    "edit": (False, False),
    "remove": (False, False),
    "view-log": (True, False),
}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def set_definition(name, source, more=""):
    return ("<backupset><Name>" + escape(name) + "</Name><Type>0</Type><FullPath>0</FullPath>"
            "<AddComputerFolder>0</AddComputerFolder><SourceFolders><F>" + escape(source) +
            "</F></SourceFolders>" + more + "</backupset>")


def held_script(reached, release):
    # Marks its arrival, then waits until the test creates the release file.
    command = ': > "%s"; while [ ! -e "%s" ]; do sleep 0.1; done' % (reached, release)
    return ("<PreBackup><Enabled>1</Enabled><Program>/bin/sh</Program><Args>-c '" +
            escape(command) + "'</Args></PreBackup>")


class Window:
    """`ulvaren ui --no-browser` on the test's registry, with the test's home."""

    def __init__(self, binary, work):
        self.binary = binary
        self.work = work
        self.env = dict(os.environ, HOME=os.path.join(work, "home"))
        self.env.pop("ULVAREN_DEFAULT_TARGET", None)
        self.env.pop("ULVAREN_REGISTRY", None)
        self.registry = os.path.join(work, "reg.db")
        self.process = None

    def run(self, *arguments):
        return subprocess.run([self.binary, *arguments, "--registry", self.registry],
                              env=self.env, capture_output=True, text=True, timeout=EXIT_TIMEOUT)

    def start(self):
        self.errors = open(os.path.join(self.work, "ui-err"), "w")
        self.process = subprocess.Popen(
            [self.binary, "ui", "--no-browser", "--registry", self.registry],
            env=self.env, stdout=subprocess.PIPE, stderr=self.errors, text=True)
        line = self.process.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:[0-9]+/\?token=[0-9a-f]+", line)
        check(match, "no address with a token in the first line: %r" % line)
        return match.group(0)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.process:
            self.process.stdout.close()
            self.errors.close()


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--disable-dev-shm-usage", "--window-size=1280,800",
                     "--user-data-dir=" + profile):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)


def rows_named(driver, name):
    return [row for row in driver.find_elements(By.CSS_SELECTOR, "#sets tbody tr")
            if row.find_element(By.CSS_SELECTOR, "th").text == name]


def row_named(driver, name):
    rows = rows_named(driver, name)
    return rows[0] if len(rows) == 1 else None


def status_of(driver, name):
    row = row_named(driver, name)
    # The status is the first td, after the name's th.
    return row.find_elements(By.CSS_SELECTOR, "td")[0].text if row else None


def select(driver, name):
    row_named(driver, name).click()
    wait_for(driver, name + " selected",
             lambda d: row_named(d, name).get_attribute("aria-selected") == "true")


def cell_of(driver, name, heading):
    headings = [th.get_attribute("textContent")
                for th in driver.find_elements(By.CSS_SELECTOR, "#sets thead th")]
    row = row_named(driver, name)
    return row.find_elements(By.CSS_SELECTOR, "th, td")[headings.index(heading)].text if row else None


def button(driver, name):
    return driver.find_element(By.CSS_SELECTOR, '#toolbar button[data-name="%s"]' % name)


def command_states(driver):
    return {b.get_attribute("data-name"): (b.is_enabled(),
                                           b.get_attribute("aria-pressed") == "true")
            for b in driver.find_elements(By.CSS_SELECTOR, "#toolbar button")}


# What a person would see as broken: the page scrolling sideways, a control,
# heading or cell of the list past the window's edge, toolbar buttons on top
# of each other.
LAYOUT_PROBLEMS = """
const width = document.documentElement.clientWidth;
const shown = selector => [...document.querySelectorAll(selector)]
  .filter(e => e.getClientRects().length > 0);
const label = e => e.dataset.name || e.id || e.textContent.trim() || "an empty " + e.localName;
const problems = [];
if (document.documentElement.scrollWidth > width)
  problems.push("the page is " + document.documentElement.scrollWidth + " px wide");
for (const e of shown("button, h1, #sets tbody th, #sets td")) {
  const r = e.getBoundingClientRect();
  if (r.left < 0 || r.right > width) problems.push(label(e) + " reaches past the edge");
}
const buttons = shown("button").map(e => [label(e), e.getBoundingClientRect()]);
buttons.forEach(([a, r], i) => buttons.slice(i + 1).forEach(([b, q]) => {
  if (r.left < q.right && q.left < r.right && r.top < q.bottom && q.top < r.bottom)
    problems.push(a + " overlaps " + b);
}));
return problems;
"""


def check_layout(driver, screenshots):
    size = driver.get_window_size()
    for width in (400, 1400):
        driver.set_window_size(width, 900)
        wait_for(driver, "the window %d px wide" % width,
                 lambda d: d.execute_script("return window.innerWidth") == width)
        driver.save_screenshot(os.path.join(screenshots, "main-window-%dpx.png" % width))
        problems = driver.execute_script(LAYOUT_PROBLEMS)
        check(not problems, "at %d px: %s" % (width, "; ".join(problems)))
    driver.set_window_size(size["width"], size["height"])


def wait_for(driver, what, condition, timeout=PAGE_TIMEOUT):
    try:
        return WebDriverWait(driver, timeout, poll_frequency=0.2,
                             ignored_exceptions=[StaleElementReferenceException]).until(condition)
    except Exception as error:
        raise Failure("the page never showed %s (%s)" % (what, type(error).__name__))


def start_held(driver, name, reached):
    """Starts the set `name` from the toolbar; returns once its pre-backup
    script has started and the page shows the set in it."""
    select(driver, name)
    wait_for(driver, "Start enabled", lambda d: button(d, "start").is_enabled())
    button(driver, "start").click()
    wait_for(driver, name + " in its pre-backup script",
             lambda d: status_of(d, name) == "Running pre-backup script")
    check(os.path.exists(reached), "the page shows the script, but it has not started")


def pause_behind_held(driver, release, copy, screenshots):
    """Later, started behind Held, is paused from the toolbar while it waits
    its turn (a run held in its script cannot be paused, a queued one can);
    let through, it starts but copies nothing until it is resumed. The window
    must fit its busiest rows from 400 px wide to a full screen."""
    select(driver, "Later")
    button(driver, "start").click()
    wait_for(driver, "Pause enabled for the queued set",
             lambda d: status_of(d, "Later") == "Not Started" and button(d, "pause").is_enabled())
    button(driver, "pause").click()
    wait_for(driver, "Pause pressed", lambda d: command_states(d)["pause"] == (True, True))

    write(release, "")
    wait_for(driver, "Held complete and Later started",
             lambda d: status_of(d, "Held") == "Complete" and status_of(d, "Later") != "Not Started")
    check(status_of(driver, "Later") == "Running, paused" and not os.path.exists(copy),
          "Later went on while paused: %s" % status_of(driver, "Later"))
    driver.save_screenshot(os.path.join(screenshots, "main-window-paused.png"))
    check(command_states(driver)["pause"] == (True, True), "Pause not pressed for the paused run")
    check(cell_of(driver, "Later", "Copied") == "0", "the paused run counts copies")
    check_layout(driver, screenshots)

    button(driver, "pause").click()
    wait_for(driver, "Pause released", lambda d: not command_states(d)["pause"][1])
    wait_for(driver, "Later complete", lambda d: status_of(d, "Later") == "Complete")
    check(os.path.exists(copy) and cell_of(driver, "Later", "Copied") == "1",
          "the resumed run did not copy c.txt")


def test(binary, screenshots, work):
    source = os.path.join(work, "src")
    write(os.path.join(source, "a.txt"), "alpha")
    write(os.path.join(source, "sub", "b.txt"), "beta")
    later = os.path.join(work, "later", "Photos of a long summer in the hills, by day and place")
    write(os.path.join(later, "c.txt"), "gamma")
    reached = os.path.join(work, "reached")
    release = os.path.join(work, "release")
    write(os.path.join(work, "held.xml"),
          set_definition("Held", source, held_script(reached, release)))
    write(os.path.join(work, "later.xml"), set_definition("Later", later))
    write(os.path.join(work, "odd.xml"), set_definition(MARKUP_NAME, source))
    os.makedirs(os.path.join(work, "home"))

    window = Window(binary, work)
    imported = window.run("import", *(os.path.join(work, name + ".xml")
                                      for name in ("held", "later", "odd")),
                          "--target", os.path.join(work, "out"))
    check(imported.returncode == 0, "import failed: " + imported.stdout + imported.stderr)

    driver = None
    try:
        address = window.start()
        driver = browser(os.path.join(work, "profile"))
        driver.get(address)
        wait_for(driver, "the set Held", lambda d: row_named(d, "Held"))
        check("token=" not in driver.current_url, "the token stays in the address bar")

        start_held(driver, "Held", reached)
        os.makedirs(screenshots, exist_ok=True)
        driver.save_screenshot(os.path.join(screenshots, "main-window-running.png"))
        states = command_states(driver)
        check(states == HELD_COMMANDS,
              "toolbar while held: %r, the rules say %r" % (states, HELD_COMMANDS))

        pause_behind_held(driver, release, os.path.join(work, "out", "c.txt"), screenshots)
        # The batch is over once Start all is back: only then may the window close.
        wait_for(driver, "Start all enabled again", lambda d: button(d, "start-all").is_enabled())
        driver.save_screenshot(os.path.join(screenshots, "main-window-complete.png"))
        check(os.path.exists(os.path.join(work, "out", "a.txt")),
              "the run says Complete but a.txt was not copied")

        odd = rows_named(driver, MARKUP_NAME)
        check(len(odd) == 1, "the set named as markup is not shown by its name")
        check(odd[0].find_element(By.CSS_SELECTOR, "th").get_attribute("textContent") ==
              MARKUP_NAME, "the markup name is not the cell's text")
        check(not driver.find_elements(By.CSS_SELECTOR, "#sets img"),
              "the markup name became an element")
        try:
            alert = driver.switch_to.alert
            raise Failure("a script ran from the set's name: " + alert.text)
        except NoAlertPresentException:
            pass

        driver.find_element(By.ID, "quit").click()
        wait_for(driver, "that the program ended",
                 lambda d: "has ended" in d.find_element(By.ID, "message").text)
        try:
            code = window.process.wait(timeout=EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure("ulvaren ui did not end after Quit")
        check(code == 0, "ulvaren ui ended with %d after Quit" % code)
    finally:
        if driver:
            driver.quit()
        window.stop()


def main(scenario=None, prefix="ulvaren-browser-"):
    """Runs `scenario` (this file's test) in a fresh work folder; the exit status."""
    scenario = scenario or test
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--screenshots", required=True)
    arguments = parser.parse_args()
    work = tempfile.mkdtemp(prefix=prefix)
    try:
        scenario(arguments.binary, arguments.screenshots, work)
    except Failure as failure:
        print("FAILED:", failure, file=sys.stderr)
        errors = os.path.join(work, "ui-err")
        if os.path.exists(errors):
            with open(errors) as f:
                print("ulvaren ui said:", f.read(), file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
