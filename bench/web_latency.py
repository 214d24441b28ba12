#!/usr/bin/env python3
"""Figures of the browser surface on the real program, on 127.0.0.1, in headless chromium.

- Touch to screen: a touch on a clip's picture (a WebDriver touch on the page) -> the page's
  message -> the frame that plays the clip is presented -> the state message back on the page. The
  page times it from its own pointerdown to the state's arrival (performance.now()).
- The preview: pictures and bytes the page received over 10 s, and the program's processor time
  (user + system, /proc) over 10 s with the page open and with no page, both on the MIX screen.

usage: bench/web_latency.py [BUILD_DIR] [TOUCHES]
"""
import os, random, sys, time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests"))
from web_support import Program, wait_until
from web_browser_test import Browser

HOOK = """
window.touchTimes = []; let pressed = 0;
document.getElementById('clips').addEventListener('pointerdown', () => { pressed = performance.now(); }, true);
window.loopmixer.listeners.push((address, value) => {
  if (/\\/deck\\/[01]\\/track$/.test(address) && pressed) { window.touchTimes.push(performance.now() - pressed); pressed = 0; }
});
"""


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    touches = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    program = Program(os.path.abspath(os.path.join(build, "loopmixer")), os.path.join(build, "run"))
    browser = None
    try:
        program.wait_for("/loopmixer/screen", lambda s: s == "home")
        program.press("b")
        program.wait_for("/loopmixer/screen", lambda s: s == "mix")
        program.send_osc("/loopmixer/playlist", "i", 0)
        program.wait_for("/loopmixer/tracks", lambda n: n == 5)
        browser = Browser()
        browser.do("POST", "/url", {"url": program.address})
        wait_until(lambda: browser.script("return document.querySelectorAll('#clips img').length === 5"), "clips")
        browser.script(HOOK)
        for n in range(touches):
            time.sleep(random.uniform(0.05, 0.12))  # land anywhere between two frames
            browser.pointer("touch", ".clip[data-track='%d']" % (2 + n % 2))
            wait_until(lambda: browser.script("return window.touchTimes.length") > n, "touch %d" % n)
        samples = sorted(browser.script("return window.touchTimes"))
        pick = lambda q: samples[min(len(samples) - 1, int(q * len(samples)))]
        print("touch to screen, ms (%d touches): min %.1f  median %.1f  p95 %.1f  max %.1f" %
              (len(samples), samples[0], pick(0.5), pick(0.95), samples[-1]))

        start = browser.script("return [window.loopmixer.stats.received, window.loopmixer.stats.bytes, window.loopmixer.stats.pictures, performance.now()]")
        cpu = cpu_seconds(program.process.pid)
        time.sleep(10)
        end = browser.script("return [window.loopmixer.stats.received, window.loopmixer.stats.bytes, window.loopmixer.stats.pictures, performance.now()]")
        with_page = cpu_seconds(program.process.pid) - cpu
        pictures, size, seconds = end[0] - start[0], end[1] - start[1], (end[3] - start[3]) / 1000
        print("preview: %.1f pictures/s received, %.1f drawn, %.0f kB/s (%.1f kB a picture)" %
              (pictures / seconds, (end[2] - start[2]) / seconds, size / 1024 / seconds, size / 1024 / max(1, pictures)))
        browser.do("POST", "/url", {"url": "about:blank"})
        time.sleep(2)
        cpu = cpu_seconds(program.process.pid)
        time.sleep(10)
        without = cpu_seconds(program.process.pid) - cpu
        print("program's processor time: %.1f %% of a core with the page, %.1f %% without" % (with_page * 10, without * 10))
    finally:
        if browser:
            browser.close()
        program.close()


if __name__ == "__main__":
    main()
