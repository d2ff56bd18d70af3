#!/usr/bin/env python3
"""The dialogs of `ulvaren ui` in headless chromium, on a registry that starts
empty: a set made through the wizard (a count that is not a number refused),
held in its pre-backup program while it runs, its log viewed, renamed through
Edit… and removed from the toolbar; the about box; a set imported and removed
by another process coming and going. Screenshots go to --screenshots.

Usage: browser_dialogs_test.py --binary PATH/TO/ulvaren --screenshots DIR
"""
import os
import sys

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from browser_test import (Window, browser, button, cell_of, check, main, row_named,
                          rows_named, select, set_definition, start_held, status_of, wait_for,
                          write)

# Control ids of the wizard's pages (name and target, sources, pre-backup
# program) and of the about box.
NAME, TARGET_GIVEN, TARGET, COUNT, SOURCES, ADD_SOURCE = 1008, 1014, 1005, 1012, 1004, 1013
RUN, PROGRAM, ARGUMENTS, PRODUCT, ABOUT_TEXT, ABOUT_OK = 1026, 1007, 1008, 1018, 1019, 1


def files_under(folder):
    return sorted(os.path.join(top, name) for top, _, names in os.walk(folder) for name in names)


def set_names(driver):
    return {row.find_element(By.CSS_SELECTOR, "th").text
            for row in driver.find_elements(By.CSS_SELECTOR, "#sets tbody tr")}


def control(driver, number):
    return driver.find_element(By.ID, "control-%d" % number)


def shown(driver, selector):
    found = driver.find_elements(By.CSS_SELECTOR, selector)
    return bool(found) and found[0].is_displayed()


def dialog_open(driver):
    return shown(driver, "#dialog-layer") and shown(driver, "#dialog")


def on_page(driver, index):
    tab = driver.find_elements(By.CSS_SELECTOR, '#dialog-pages button[data-page="%d"]' % index)
    return bool(tab) and tab[0].get_attribute("aria-current") == "step"


def enter(driver, number, text):
    """Replaces the field's text and waits until the server holds it: the
    page drops its mark of unsent typing only when the server's text agrees."""
    field = control(driver, number)
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys(text)
    wait_for(driver, "the server taking %r" % text,
             lambda d: control(d, number).get_attribute("value").replace("\r\n", "\n") == text
             and control(d, number).get_attribute("data-dirty") is None)


def press(driver, action):
    driver.find_element(By.CSS_SELECTOR, '#dialog-buttons button[data-action="%s"]' %
                        action).click()


def go_to(driver, index, screenshots, key_in=None):
    """Next to page `index`: Enter in field `key_in`, else the Next button."""
    if key_in:
        control(driver, key_in).send_keys(Keys.ENTER)
    else:
        press(driver, "next")
    wait_for(driver, "wizard page %d" % (index + 1), lambda d: on_page(d, index))
    driver.save_screenshot(os.path.join(screenshots, "wizard-page-%d.png" % (index + 1)))


def make_set(driver, papers, target, script, screenshots):
    """Add…: the wizard's five pages, a refused count, the target question."""
    button(driver, "add").click()
    wait_for(driver, "the wizard", lambda d: dialog_open(d) and on_page(d, 0))
    driver.save_screenshot(os.path.join(screenshots, "wizard-page-1.png"))
    enter(driver, NAME, "Papers")
    if not control(driver, TARGET_GIVEN).is_selected():
        control(driver, TARGET_GIVEN).click()
    wait_for(driver, "the target field enabled", lambda d: control(d, TARGET).is_enabled())
    enter(driver, TARGET, target)
    go_to(driver, 1, screenshots, key_in=TARGET)

    control(driver, ADD_SOURCE).click()
    wait_for(driver, "the folder chooser at home",
             lambda d: shown(d, "#chooser") and
             d.find_element(By.ID, "chooser-folder").text == os.path.dirname(papers))
    driver.find_element(By.CSS_SELECTOR,
                        '#chooser-entries button[data-name="Papers"][data-folder="true"]').click()
    wait_for(driver, "the chooser in Papers",
             lambda d: d.find_element(By.ID, "chooser-folder").text == papers)
    driver.save_screenshot(os.path.join(screenshots, "wizard-chooser.png"))
    driver.find_element(By.ID, "chooser-choose").click()
    wait_for(driver, "Papers among the sources",
             lambda d: not shown(d, "#chooser") and
             papers in control(d, SOURCES).get_attribute("value").splitlines())
    go_to(driver, 2, screenshots)

    control(driver, RUN).click()
    wait_for(driver, "the program field enabled", lambda d: control(d, PROGRAM).is_enabled())
    enter(driver, PROGRAM, "/bin/sh")
    enter(driver, ARGUMENTS, script)
    go_to(driver, 3, screenshots)
    go_to(driver, 4, screenshots)

    driver.find_element(By.CSS_SELECTOR, '#dialog-pages button[data-page="0"]').click()
    wait_for(driver, "back on the first page", lambda d: on_page(d, 0))
    enter(driver, COUNT, "four")
    press(driver, "ok")
    # The refusal takes the focus back to the count once OK is answered.
    wait_for(driver, "the count refused",
             lambda d: d.switch_to.active_element.get_attribute("id") == "control-%d" % COUNT)
    driver.save_screenshot(os.path.join(screenshots, "wizard-refused.png"))
    check(dialog_open(driver) and on_page(driver, 0), "the refusal left the first page")
    check('"four"' in driver.find_element(By.ID, "dialog-message").text,
          "the refusal does not name the count")
    check(not rows_named(driver, "Papers"), "a set was saved with a refused count")

    enter(driver, COUNT, "3")
    press(driver, "ok")
    # The target is missing but its parent is there: OK asks to make it.
    wait_for(driver, "the question about the target", lambda d: shown(d, "#question"))
    check(target in driver.find_element(By.ID, "question-text").text,
          "the question does not name the target folder")
    driver.find_element(By.ID, "question-yes").click()
    wait_for(driver, "the new set's row", lambda d: not dialog_open(d) and row_named(d, "Papers"))
    check(os.path.isdir(target), "the target folder was not made after Yes")


def run_held(driver, reached, release, screenshots):
    start_held(driver, "Papers", reached)
    driver.save_screenshot(os.path.join(screenshots, "main-window-held-dialog-test.png"))
    write(release, "")
    wait_for(driver, "Papers complete", lambda d: status_of(d, "Papers") == "Complete")
    check(cell_of(driver, "Papers", "Copied") == "2", "the run did not copy both files")


def view_log(driver, papers, screenshots):
    wait_for(driver, "View log enabled", lambda d: button(d, "view-log").is_enabled())
    button(driver, "view-log").click()
    wait_for(driver, "the run's lines in the log",
             lambda d: all(line in d.find_element(By.CSS_SELECTOR, "section.log pre").text
                           for line in (papers, "Complete")))
    driver.save_screenshot(os.path.join(screenshots, "log-panel.png"))
    close = [b for b in driver.find_elements(By.CSS_SELECTOR, "section.log button")
             if b.text == "Close"]
    check(len(close) == 1, "the log panel has no Close button")
    close[0].click()
    wait_for(driver, "the log panel closed",
             lambda d: not d.find_elements(By.CSS_SELECTOR, "section.log"))


def rename(driver):
    button(driver, "edit").click()
    wait_for(driver, "the wizard on Papers",
             lambda d: dialog_open(d) and control(d, NAME).get_attribute("value") == "Papers")
    enter(driver, NAME, "Letters")
    press(driver, "ok")
    wait_for(driver, "the renamed row",
             lambda d: not dialog_open(d) and row_named(d, "Letters") and
             not rows_named(d, "Papers"))


def about_box(driver, screenshots):
    driver.find_element(By.ID, "about").click()
    wait_for(driver, "the about box", lambda d: dialog_open(d) and control(d, ABOUT_TEXT))
    check("Ulvaren" in control(driver, PRODUCT).text, "the about box does not name the product")
    text = control(driver, ABOUT_TEXT)
    links = [a.get_attribute("href") for a in text.find_elements(By.CSS_SELECTOR, "a")]
    check(links and all(link.startswith("https://") for link in links),
          "the about text shows no https link: %r" % links)
    check(not any(mark in text.text for mark in ("<", "&lt;", "&amp;", "href")),
          "the about text shows markup: %r" % text.text)
    driver.save_screenshot(os.path.join(screenshots, "about-box.png"))
    control(driver, ABOUT_OK).click()
    wait_for(driver, "the about box closed", lambda d: not shown(d, "#dialog-layer"))


def changed_elsewhere(driver, window, definition, target):
    imported = window.run("import", definition, "--target", target)
    check(imported.returncode == 0, "import failed: " + imported.stdout + imported.stderr)
    wait_for(driver, "the imported set's row", lambda d: row_named(d, "Imported"))
    removed = window.run("remove", "Imported")
    check(removed.returncode == 0, "remove failed: " + removed.stdout + removed.stderr)
    wait_for(driver, "the removed set's row gone", lambda d: not rows_named(d, "Imported"))


def test(binary, screenshots, work):
    home = os.path.join(work, "home")
    papers = os.path.join(home, "Papers")
    write(os.path.join(papers, "a.txt"), "alpha")
    write(os.path.join(papers, "notes", "b.txt"), "beta")
    other = os.path.join(work, "other")
    write(os.path.join(other, "c.txt"), "gamma")
    definition = os.path.join(work, "imported.xml")
    write(definition, set_definition("Imported", other))
    reached = os.path.join(work, "reached")
    release = os.path.join(work, "release")
    # Marks its arrival, then waits until the test creates the release file.
    script = "-c ': > \"%s\"; while [ ! -e \"%s\" ]; do sleep 0.1; done'" % (reached, release)
    target = os.path.join(work, "out", "papers")
    os.makedirs(os.path.dirname(target))
    os.makedirs(screenshots, exist_ok=True)

    window = Window(binary, work)
    driver = None
    try:
        address = window.start()
        driver = browser(os.path.join(work, "profile"))
        driver.get(address)
        # An empty registry gets the first run's set of the home folder.
        wait_for(driver, "Add enabled", lambda d: button(d, "add").is_enabled())
        before = set_names(driver)

        make_set(driver, papers, target, script, screenshots)
        run_held(driver, reached, release, screenshots)
        view_log(driver, papers, screenshots)
        rename(driver)
        about_box(driver, screenshots)
        changed_elsewhere(driver, window, definition, os.path.join(work, "out"))

        select(driver, "Letters")
        wait_for(driver, "Remove enabled", lambda d: button(d, "remove").is_enabled())
        copied = files_under(target)
        button(driver, "remove").click()
        wait_for(driver, "the removed row gone", lambda d: not rows_named(d, "Letters"))
        check(not shown(driver, "#dialog-layer"), "Remove asked something")
        check(set_names(driver) == before, "after the removals the list holds %r, not %r" %
              (set_names(driver), before))
        # The window saved back neither removed set.
        listed = window.run("list")
        check(listed.returncode == 0 and "Home" in listed.stdout and
              "Letters" not in listed.stdout and "Imported" not in listed.stdout,
              "the registry holds after the removals: " + listed.stdout + listed.stderr)
        check(any(f.endswith("/notes/b.txt") for f in copied) and files_under(target) == copied,
              "removing the set touched its backups: %r" % copied)
    finally:
        if driver:
            driver.quit()
        window.stop()


if __name__ == "__main__":
    sys.exit(main(test, "ulvaren-dialogs-"))
