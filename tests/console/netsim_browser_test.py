"""The network register's console in headless Chromium while the 1C add-in (loaded by
addin-host) runs receipts against oltra-netsim: the receipt's lines reach the page's tape
without a reload, and a fault switched on the page makes the driver's next call fail with
that fault's error, and switched off lets the call after succeed.

    netsim_browser_test.py NETSIM ADDIN_HOST ADDIN_LIBRARY SCREENSHOT_DIR
"""

import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Browser, api, start_process, stop_process  # noqa: E402

NETSIM, HOST, LIBRARY, SHOTS = sys.argv[1:5]


class NetsimConsoleTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="netsim-console-")
        self.addCleanup(self.dir.cleanup)
        ready = os.path.join(self.dir.name, "port")
        self.sim, self.url = start_process(
            [NETSIM, "--port", "0", "--ready-file", ready, "--console", "0", "--display-width", "20",
             "--clock", "2026-12-08 10:00:00", "--name", "Крамниця Демо", "--serial", "ON40007777"],
            "console on ")
        self.addCleanup(stop_process, self.sim)
        deadline = time.time() + 10
        while not os.path.exists(ready) and time.time() < deadline:
            time.sleep(0.05)
        with open(ready) as f:
            self.port = int(f.read())

    def driver(self, *commands, opens=True):
        """Runs the add-in through addin-host: Open, then the commands; returns its output.
        With `opens`, Open must succeed."""
        script = os.path.join(self.dir.name, "script.txt")
        with open(script, "w") as f:
            f.write("set IP str:127.0.0.1:%d\nset Username str:service\nset Password str:384190\n"
                    "call Open empty\n" % self.port)
            f.write("\n".join(commands) + "\n")
        tmp = os.path.join(self.dir.name, "tmp")
        os.makedirs(tmp, exist_ok=True)
        run = subprocess.run([HOST, "--keep-going", LIBRARY, "--script", script], capture_output=True,
                             text=True, timeout=120, env=dict(os.environ, TMPDIR=tmp))
        if opens:
            self.assertIn("call Open empty: CallAsFunc true, result BOOL true", run.stdout)
        return run.stdout

    RECEIPT = [
        "call OpenCheck empty bool:true bool:false bool:false empty i4:0",
        'call PrintFiscalString empty "str:Хліб житній" r8:2 r8:18.50 r8:37.00 i4:1 r8:20',
        'call PrintFiscalString empty "str:Молоко" r8:1 r8:31.00 r8:31.00 i4:1 r8:20',
        "call CloseCheck empty r8:100 r8:0 r8:0 r8:0",
    ]
    CLOSE_OK = "call CloseCheck empty r8:100 r8:0 r8:0 r8:0: CallAsFunc true, result BOOL true"
    CLOSE_FAILED = "call CloseCheck empty r8:100 r8:0 r8:0 r8:0: CallAsFunc true, result BOOL false"

    def test_receipt_on_the_page_and_a_fault_from_the_page(self):
        with Browser() as b:
            b.open(self.url)
            b.driver.execute_script("window.notReloaded = true")
            # A receipt while the page is open: its lines arrive on the tape.
            out = self.driver("call OpenShift empty", *self.RECEIPT)
            self.assertIn(self.CLOSE_OK, out)
            lines = b.wait_for_tape_line("Молоко")
            self.assertTrue(any("Хліб житній" in l for l in lines), lines)
            b.wait_for_tape_line("РЕШТА")
            # The display as the register shows it: 20 characters wide.
            b.wait_until(lambda: b.display_lines() and all(len(l) == 20 for l in b.display_lines()),
                         "a 20-character display")
            b.wait_until(lambda: "POST /cgi/chk" in b.driver.find_element("id", "exchanges").text, "the receipt POST")
            state = api(self.url, "/api/state")
            self.assertEqual(state["display"]["width"], 20)
            b.screenshot(os.path.join(SHOTS, "console-netsim.png"))

            # A fault switched on the page: the next receipt fails with that register error.
            b.switch_fault("err", True, "/cgi/chk=3A")
            self.assertIn({"name": "err", "on": True, "value": "/cgi/chk=3A"},
                          [{k: f[k] for k in ("name", "on", "value")} for f in api(self.url, "/api/faults")["faults"]])
            out = self.driver(*self.RECEIPT)
            self.assertIn(self.CLOSE_FAILED, out)
            self.assertIn("(Код:3A) Фіскальна пам'ять переповнена", out)
            b.wait_until(lambda: b.driver.find_elements("css selector", "#exchanges tbody tr.bad"), "a failed exchange")
            b.screenshot(os.path.join(SHOTS, "console-netsim-fault.png"))

            # Off again: the call after succeeds.
            b.switch_fault("err", False)
            out = self.driver(*self.RECEIPT)
            self.assertIn(self.CLOSE_OK, out)

            # A switch without a value: every login refused, the driver's call fails.
            b.switch_fault("always-401", True)
            run = self.driver("call DeviceTest empty empty", opens=False)
            self.assertNotIn("result BOOL true", run)
            b.switch_fault("always-401", False)
            self.assertIn("result BOOL true", self.driver("call DeviceTest empty empty"))
            self.assertTrue(b.driver.execute_script("return window.notReloaded === true"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
