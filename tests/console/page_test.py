"""The console page in headless Chromium against a console with no register behind it
(console_fixture): what the page draws from the API, and its fault switches.

    page_test.py FIXTURE SCREENSHOT_DIR
"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import Browser, api, start_process, stop_process  # noqa: E402

FIXTURE, SHOTS = sys.argv[1], sys.argv[2]


class PageTest(unittest.TestCase):
    def setUp(self):
        self.proc, self.url = start_process([FIXTURE], "URL ", stdin=subprocess.PIPE)
        self.addCleanup(stop_process, self.proc)

    def say(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        self.assertEqual(self.proc.stdout.readline().strip(), "OK")

    def test_page_follows_the_register_without_reloading(self):
        with Browser() as b:
            b.open(self.url)
            b.driver.execute_script("window.notReloaded = true")
            self.say("title Каса 1")
            self.say("display Хліб житній|=37.00 ГРН")
            self.say("tape   ФІСКАЛЬНИЙ ЧЕК\\nХліб житній        37.00")
            self.say("logo")
            self.say("tape СУМА               37.00")
            self.say("exchange POST /cgi/chk|{\"F\":[]}|{\"err\":\"13\"}|error 13|bad")
            lines = b.wait_for_tape_line("СУМА")
            self.assertEqual(lines, ["  ФІСКАЛЬНИЙ ЧЕК", "Хліб житній        37.00", "СУМА               37.00"])
            b.wait_until(lambda: b.driver.title == "Каса 1", "the title")
            # The display is as wide as the register's (20 here), padded with blanks.
            b.wait_until(lambda: b.display_lines() == ["Хліб житній".ljust(20), "=37.00 ГРН".ljust(20)], "the display")
            # The logo is drawn where it was printed: between the lines, in black pixels.
            drawn = b.wait_until(lambda: b.driver.execute_script("""
                const c = document.querySelector('#tape canvas.logo');
                if (!c || !c.width) return 0;
                const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
                let black = 0; for (let i = 3; i < d.length; i += 4) black += d[i] > 0;
                return c.previousElementSibling.textContent.includes('37.00') && black;"""), "the logo")
            self.assertGreater(drawn, 150)
            row = b.wait_until(lambda: b.driver.find_elements("css selector", "#exchanges tbody tr.bad"), "the exchange")
            self.assertIn("error 13", row[0].text)
            self.assertIn("Totals", b.driver.find_element("id", "fiscal").text)
            self.assertTrue(b.driver.execute_script("return window.notReloaded === true"))
            b.screenshot(os.path.join(SHOTS, "console-fixture.png"))

    def test_fault_switches_post_and_show_refusals(self):
        with Browser() as b:
            b.open(self.url)
            # Refused without a value: the page says why and the switch stays off.
            b.wait_until(lambda: b.driver.find_elements("id", "fault-err"), "the switch")
            b.driver.find_element("css selector", "#fault-row-err label").click()
            b.wait_until(lambda: "err needs a code" in b.fault_error(), "the refusal")
            b.wait_until(lambda: not b.fault_on("err"), "the switch to fall back")
            self.assertFalse(api(self.url, "/api/faults")["faults"][0]["on"])
            b.switch_fault("err", True, "3A")
            self.assertEqual(api(self.url, "/api/faults")["faults"][0], {
                "name": "err", "help": "answer an error", "argument": "CODE", "on": True, "value": "3A"})
            self.assertEqual(b.fault_error(), "")
            b.switch_fault("err", False)
            self.assertFalse(api(self.url, "/api/faults")["faults"][0]["on"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
