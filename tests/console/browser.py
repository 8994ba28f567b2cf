"""Headless Chromium driven through chromedriver (Debian's chromium, chromium-driver and
python3-selenium), for the tests of the simulators' console pages.

    with Browser() as b:
        b.open(url)
        b.wait_for_tape_line("РАЗОМ")
        b.switch_fault("nak", True)
        b.screenshot(path)

Chromium runs with a new empty profile and without any of its own network traffic, in a
session of its own: leaving the `with` block ends chromedriver, the browser and every
process they started, and checks that none is left.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

# Root needs --no-sandbox; the rest keep the browser from reaching out to the network
# (this machine has none, and every attempt is refused and logged).
FLAGS = [
    "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--disable-quic",
    "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--disable-extensions", "--disable-default-apps",
    "--disable-features=Translate,MediaRouter,OptimizationHints", "--metrics-recording-only",
    "--password-store=basic", "--use-mock-keychain", "--hide-scrollbars", "--font-render-hinting=none",
]


def _session_members(sid):
    """Pids of the processes in session `sid` (read from /proc)."""
    pids = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                stat = f.read()
        except OSError:
            continue
        # The fields after the command name (which may hold blanks) in parentheses.
        fields = stat[stat.rfind(")") + 2:].split()
        if len(fields) > 3 and int(fields[3]) == sid and int(name) != os.getpid():
            pids.append(int(name))
    return pids


class Browser:
    def __init__(self, width=1600, height=1200):
        self.width, self.height = width, height
        self.driver = None
        self.profile = None
        self.sid = None

    def __enter__(self):
        for tool in (CHROMIUM, CHROMEDRIVER):
            if not os.access(tool, os.X_OK):
                raise RuntimeError("%s is missing: run scripts/setup.sh" % tool)
        self.profile = tempfile.mkdtemp(prefix="console-chromium-")
        options = Options()
        options.binary_location = CHROMIUM
        for flag in FLAGS:
            options.add_argument(flag)
        options.add_argument("--user-data-dir=" + self.profile)
        options.add_argument("--window-size=%d,%d" % (self.width, self.height))
        service = Service(CHROMEDRIVER, log_path=os.path.join(self.profile, "chromedriver.log"),
                          popen_kw={"start_new_session": True})
        try:
            self.driver = webdriver.Chrome(service=service, options=options)
        except Exception:
            self._reap(service.process.pid if service.process else None)
            raise
        self.sid = service.process.pid
        self.driver.set_page_load_timeout(20)
        self.driver.set_script_timeout(20)
        return self

    def __exit__(self, *exc):
        try:
            if self.driver:
                self.driver.quit()
        except WebDriverException:
            pass
        self._reap(self.sid)
        return False

    def _reap(self, sid):
        """Ends whatever is left of chromedriver's session, by pid, and checks."""
        if sid:
            for sig in (signal.SIGTERM, signal.SIGKILL):
                left = _session_members(sid)
                if not left:
                    break
                for pid in left:
                    try:
                        os.kill(pid, sig)
                    except ProcessLookupError:
                        pass
                deadline = time.time() + 5
                while time.time() < deadline and _session_members(sid):
                    time.sleep(0.1)
            left = _session_members(sid)
            if left:
                raise RuntimeError("browser processes left behind: %s" % left)
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)

    # ---- the page ----
    def open(self, url):
        self.driver.get(url)
        self.wait_until(lambda: self.driver.find_element(By.ID, "link").text == "live", "the page to go live")

    def wait_until(self, condition, what, timeout=15):
        deadline = time.time() + timeout
        last = None
        while time.time() < deadline:
            try:
                value = condition()
                if value:
                    return value
            except (StaleElementReferenceException, WebDriverException) as e:
                last = e
            time.sleep(0.1)
        raise AssertionError("timed out waiting for %s%s" % (what, " (%s)" % last if last else ""))

    def tape_lines(self):
        return self.driver.execute_script(
            "return Array.from(document.querySelectorAll('#tape .tape-line')).map(e => e.textContent)")

    def wait_for_tape_line(self, text, timeout=15):
        """Waits until a tape line contains `text`; returns the lines."""
        return self.wait_until(lambda: any(text in l for l in self.tape_lines()) and self.tape_lines(),
                               "a tape line with %r" % text, timeout)

    def display_lines(self):
        return self.driver.execute_script(
            "return Array.from(document.querySelectorAll('#display .lcd-line')).map(e => e.textContent)")

    def fault_on(self, name):
        return self.driver.find_element(By.ID, "fault-" + name).is_selected()

    def switch_fault(self, name, on, value=None):
        """Types the value (when given), clicks the switch and waits for the page to show it."""
        self.wait_until(lambda: self.driver.find_elements(By.ID, "fault-" + name), "the switch " + name)
        if value is not None:
            field = self.driver.find_element(By.ID, "fault-%s-value" % name)
            field.clear()
            field.send_keys(value)
        box = self.driver.find_element(By.ID, "fault-" + name)
        if box.is_selected() != on:
            # The switch is drawn by CSS; its label takes the click as a person's would.
            self.driver.find_element(By.CSS_SELECTOR, "#fault-row-%s label" % name).click()
        self.wait_until(lambda: self.fault_on(name) == on and
                        ("on" in self.driver.find_element(By.ID, "fault-row-" + name).get_attribute("class")) == on,
                        "the switch %s to show %s" % (name, "on" if on else "off"))

    def fault_error(self):
        return self.driver.find_element(By.ID, "faults-message").text

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # The whole page, not only the window: grow the window to the page's height (which
        # may grow with the window: columns sized to it).
        for _ in range(3):
            height = self.driver.execute_script("return document.documentElement.scrollHeight")
            inner = self.driver.execute_script("return window.innerHeight")
            if height <= inner:
                break
            size = self.driver.get_window_size()
            self.driver.set_window_size(self.width, min(size["height"] + height - inner + 10, 5000))
            time.sleep(0.3)
        self.driver.save_screenshot(path)
        self.driver.set_window_size(self.width, self.height)
        return path


def api(url, path):
    """GET of the console's JSON API at `url` ("http://ADDR:PORT/"), decoded."""
    with urllib.request.urlopen(url + path.lstrip("/"), timeout=5) as r:
        return json.load(r)


def start_process(args, ready_prefix, timeout=15, **kw):
    """Starts a program and waits for a line starting with `ready_prefix` on its standard
    output; returns (process, the rest of that line)."""
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stdin=kw.pop("stdin", subprocess.DEVNULL),
                            text=True, bufsize=1, **kw)
    deadline = time.time() + timeout
    while time.time() < deadline:
        line = proc.stdout.readline()
        if not line:
            break
        if line.startswith(ready_prefix):
            return proc, line[len(ready_prefix):].strip()
    proc.kill()
    proc.wait()
    proc.stdout.close()
    raise RuntimeError("%s did not print %r" % (args[0], ready_prefix))


def stop_process(proc, timeout=10):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    for stream in (proc.stdin, proc.stdout, proc.stderr):
        if stream:
            stream.close()
