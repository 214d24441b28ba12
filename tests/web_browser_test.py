#!/usr/bin/env python3
"""The browser surface in a real browser: headless chromium, driven over WebDriver by chromedriver,
opens the page the real program serves on the network side (with its token) and plays it.

usage: web_browser_test.py LOOPMIXER RUN_DIR   (LOOPMIXER_WEB_SCREENSHOT=FILE.png keeps a picture)
"""
import base64, json, os, shutil, sys, tempfile, urllib.error, urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_support import Program, WebSocket, free_port, wait_until
import subprocess

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="loopmixer-chromium-")
        self.port = free_port()
        self.driver = subprocess.Popen(["chromedriver", "--port=%d" % self.port],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: self.ready(), "chromedriver")
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--user-data-dir=" + self.profile, "--window-size=1000,800"]
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": {
            "binary": shutil.which("chromium") or "/usr/bin/chromium", "args": args}}}}
        self.session = self.call("POST", "/session", caps)["sessionId"]

    def ready(self):
        try:
            return self.call("GET", "/status")["ready"]
        except (OSError, urllib.error.URLError):
            return False

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=60) as reply:
            return json.loads(reply.read())["value"]

    def do(self, method, path, body=None):
        return self.call(method, "/session/%s%s" % (self.session, path), body)

    def script(self, source, *args):
        return self.do("POST", "/execute/sync", {"script": source, "args": list(args)})

    def element(self, css):
        def find():
            try:
                return self.do("POST", "/element", {"using": "css selector", "value": css})[ELEMENT]
            except urllib.error.HTTPError:  # not there (yet)
                return None
        return wait_until(find, css)

    def pointer(self, kind, css, x=0):
        """Presses and releases a pointer of that kind (touch, mouse) x pixels right of the element's centre."""
        target = {ELEMENT: self.element(css)}
        self.do("POST", "/actions", {"actions": [{"type": "pointer", "id": kind, "parameters": {"pointerType": kind},
            "actions": [{"type": "pointerMove", "duration": 0, "origin": target, "x": x, "y": 0},
                        {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}]})

    def close(self):
        try:
            self.do("DELETE", "")
        finally:
            self.driver.terminate()
            self.driver.wait()
            shutil.rmtree(self.profile, ignore_errors=True)


def status_of(url):
    try:
        with urllib.request.urlopen(url, timeout=10) as reply:
            return reply.status
    except urllib.error.HTTPError as e:
        return e.code


def main():
    binary, run_dir = sys.argv[1], sys.argv[2]
    program = Program(binary, run_dir, "--web-host", "0.0.0.0", missing=["checker.q17"])
    browser = None
    try:
        assert "?token=" in program.address, program.address
        token = program.address.split("?token=")[1]
        assert ("web: " + program.address) in program.log()
        base = "http://127.0.0.1:%d" % program.web_port

        # From the network side, nothing without the token, or with another one.
        for path in ["/", "/index.html", "/clips.json", "/thumb/0", "/?token=" + ("1" if token[0] == "0" else "0") + token[1:], "/?token="]:
            assert status_of(base + path) == 403, path
        assert WebSocket(program.web_port, "/ws").status == 403
        assert status_of(base + "/?token=" + token) == 200

        program.wait_for("/loopmixer/screen", lambda s: s == "home")
        program.press("b")
        program.wait_for("/loopmixer/screen", lambda s: s == "mix")
        program.send_osc("/loopmixer/playlist", "i", 0)
        program.wait_for("/loopmixer/tracks", lambda n: n == 4)

        browser = Browser()
        browser.do("POST", "/url", {"url": base + "/?token=" + token})

        # Every loaded clip of the playlist shows its picture, made once and kept beside the clips;
        # the one whose file is gone is shown missing.
        wait_until(lambda: browser.script(
            "const i = [...document.querySelectorAll('#clips img')];"
            "return i.length === 4 && i.every((p) => p.complete && p.naturalWidth === 160);"), "thumbnails")
        assert browser.script("return [...document.querySelectorAll('.clip.missing')].map((c) => c.textContent)") == ["checker.q17"]
        assert sorted(os.listdir(os.path.join(program.folder, "videos", ".thumbs"))) == \
            ["bars.q17.jpg", "fields.q18.jpg", "orb.q18.jpg", "plasma.q18.jpg"]

        # A touch on a clip plays it on the selected deck (mode A).
        wait_until(lambda: browser.script("return window.loopmixer.state['/loopmixer/deck/selected'] !== undefined"), "state")
        deck = browser.script("return window.loopmixer.state['/loopmixer/deck/selected']")
        program.wait_for("/loopmixer/deck/%d/track" % deck, lambda t: t != 2)
        browser.pointer("touch", ".clip[data-track='2']")
        program.wait_for("/loopmixer/deck/%d/track" % deck, lambda t: t == 2)

        # The fader's right end is the full fade, and a second page hears of it.
        other = WebSocket(program.web_port, "/ws?token=" + token)
        assert other.status == 101
        width = browser.script("return document.getElementById('fade').getBoundingClientRect().width")
        browser.pointer("mouse", "#fade", int(width / 2) - 1)
        program.wait_for("/loopmixer/fade", lambda f: f == 1.0)
        assert other.wait_text('{"address":"/loopmixer/fade","args":[1]}'), "the fade on the second page"
        other.close()
        browser.pointer("mouse", "#fade", -int(width / 2) + 1)
        program.wait_for("/loopmixer/fade", lambda f: f == 0.0)

        # In mode B a touch is a trigger: the clip plays on deck 1.
        browser.pointer("touch", "#modeB")
        program.wait_for("/loopmixer/mode", lambda m: m == "B")
        wait_until(lambda: browser.script("return window.loopmixer.state['/loopmixer/mode'] === 'B'"), "mode B on the page")
        browser.pointer("touch", ".clip[data-track='3']")
        program.wait_for("/loopmixer/deck/1/track", lambda t: t == 3)

        # The preview shows pictures, and they change as the clip plays.
        picture = ("const c = document.getElementById('preview'); const d = c.getContext('2d')"
                   ".getImageData(0, 0, c.width, c.height).data; let h = 0;"
                   "for (let i = 0; i < d.length; i += 7) h = (h * 31 + d[i]) | 0;"
                   "return [window.loopmixer.stats.pictures, h];")
        first = wait_until(lambda: (lambda r: r if r[0] >= 3 else None)(browser.script(picture)), "preview pictures")
        wait_until(lambda: browser.script(picture)[1] != first[1], "a changing preview")

        shot = os.environ.get("LOOPMIXER_WEB_SCREENSHOT")
        if shot:
            with open(shot, "wb") as f:
                f.write(base64.b64decode(browser.do("GET", "/screenshot")))
        assert program.alive()
    finally:
        if browser:
            browser.close()
        status = program.close()
    assert status == 0, "exit status %d" % status
    print("web_browser: passed")


if __name__ == "__main__":
    main()
