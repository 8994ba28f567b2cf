"""The serial register's console in headless Chromium while PELTRA44 under Wine, driven
by a VBScript client, sells a receipt through COM5 (the simulator's pty): the receipt's
lines reach the page's tape without a reload; a fault switched on the page makes the
driver's next call fail with that fault's error; switched off, the call after succeeds.

    serial_console_test.py SIMULATOR PELTRA44.exe WINEPREFIX WINE_RUN SRC_DIR RUN_DIR SCREENSHOT_DIR
"""

import os
import shutil
import subprocess
import sys
import time
import unittest

SIM, EXE, PREFIX, WINE_RUN, SRC, RUN, SHOTS = sys.argv[1:8]
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "console"))
from browser import Browser, api, stop_process  # noqa: E402

LINK = os.path.join(PREFIX, "dosdevices", "com5")


def kill_wine():
    env = dict(os.environ, WINEPREFIX=PREFIX)
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)


class SerialConsoleTest(unittest.TestCase):
    def setUp(self):
        kill_wine()
        shutil.rmtree(RUN, ignore_errors=True)
        os.makedirs(RUN)
        shutil.copy(EXE, os.path.join(RUN, "PELTRA44.exe"))
        # The script host reads scripts in the ANSI code page.
        with open(os.path.join(SRC, "console.vbs"), encoding="utf-8") as f:
            script = f.read()
        with open(os.path.join(RUN, "console.vbs"), "w", encoding="cp1251", newline="\r\n") as f:
            f.write(script)
        with open(os.path.join(RUN, "PELTRA44.ini"), "w", newline="") as f:
            f.write("[VAdazi]\r\nDoLog=1\r\n")
        os.environ["PELTRA44_MSGBOX_LOG"] = "Z:" + os.path.join(RUN, "boxes.txt")

        self.sim = subprocess.Popen(
            [SIM, "--clock", "2026-12-08 09:00:00", "--frozen-clock", "--model", "PELTRA-SIM",
             "--fiscal-number", "4000123456", "--taxpayer", "ТОВ Крамниця Демо", "--taxpayer", "вул. Хрещатик, 1",
             "--taxpayer", "м. Київ", "--tax-number", "123456789012", "--sw-version", "1.2",
             "--console", "0", "--log", os.path.join(RUN, "sim.log"), "--tape", os.path.join(RUN, "tape.txt")],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True, bufsize=1)
        self.addCleanup(stop_process, self.sim)
        pty = self.url = None
        deadline = time.time() + 15
        while (pty is None or self.url is None) and time.time() < deadline:
            line = self.sim.stdout.readline()
            if not line:
                break
            if line.startswith("PTY "):
                pty = line[4:].strip()
            elif line.startswith("console on "):
                self.url = line[len("console on "):].strip()
        self.assertTrue(pty and self.url, "the simulator did not start")

        self.saved_link = os.readlink(LINK) if os.path.islink(LINK) else None
        self.addCleanup(self.restore_link)
        self.addCleanup(kill_wine)
        if not os.path.exists(os.path.join(PREFIX, "system.reg")):
            self.wine("cmd", "/c", "exit")
        os.makedirs(os.path.dirname(LINK), exist_ok=True)
        if os.path.islink(LINK):
            os.unlink(LINK)
        os.symlink(pty, LINK)
        self.assertEqual(self.wine(os.path.join(RUN, "PELTRA44.exe"), "/r").returncode, 0)

    def restore_link(self):
        if os.path.islink(LINK):
            os.unlink(LINK)
        if self.saved_link:
            os.symlink(self.saved_link, LINK)

    def wine(self, *args, out=subprocess.DEVNULL):
        # Output goes to a file, not a pipe: Wine's server processes (and the COM server
        # they start) keep what they inherit open long after the program ends.
        return subprocess.run([WINE_RUN, PREFIX] + list(args), stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.DEVNULL, timeout=120)

    def client(self, scenario):
        path = os.path.join(RUN, scenario + ".txt")
        with open(path, "wb") as f:
            self.wine("cscript", "//nologo", "Z:" + os.path.join(RUN, "console.vbs"), scenario, "COM5", out=f)
        with open(path, "rb") as f:
            out = f.read().decode("cp866").replace("\r", "")
        print(out)
        self.assertIn("DONE", out.splitlines())
        self.assertIn("Connect=0||", out.splitlines())
        return out.splitlines()

    def test_receipt_on_the_page_and_a_fault_from_the_page(self):
        with Browser() as b:
            b.open(self.url)
            b.driver.execute_script("window.notReloaded = true")
            out = self.client("sale")
            self.assertIn("Sale1=3100|0||", out)
            self.assertTrue(any(l.startswith("Pay=") and l.endswith("|0||") for l in out), out)
            lines = b.wait_for_tape_line("Молоко")
            b.wait_for_tape_line("Дякуємо!")
            b.wait_until(lambda: any("Решта" in l for l in b.display_lines()), "the display's second line")
            # Frames in hex with their meaning.
            b.wait_until(lambda: "SaleArticle" in b.driver.find_element("id", "exchanges").text, "the sale frames")
            self.assertIn("10 02", b.driver.find_element("id", "exchanges").text)
            b.screenshot(os.path.join(SHOTS, "console-serialsim.png"))
            print("\n".join(lines))

            # A register error switched on the page: the next driver call fails with it.
            b.switch_fault("error", True, "21,cmd=01")
            self.assertIn({"name": "error", "on": True, "value": "21,cmd=01"},
                          [{k: f[k] for k in ("name", "on", "value")} for f in api(self.url, "/api/faults")["faults"]])
            out = self.client("date")
            self.assertIn("GetDate=|A0042802|GetDate|Ошибка ЭККР 21: неправильный пароль.", out)
            self.assertIn("EcrErrorNumber=21", out)
            b.switch_fault("error", False)
            out = self.client("date")
            self.assertIn("GetDate=08/12/26|0||", out)
            self.assertTrue(b.driver.execute_script("return window.notReloaded === true"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
