#!/usr/bin/python3
"""Drives the web panel in headless Chromium through the DevTools protocol, as a player's phone
would: records a loop on track 1, drags track 2's level fader, changes settings through the menu
lists, learns a MIDI note and a controller, starts the drums and changes their tempo, checks that
bad socket messages change nothing, and checks the layout (nothing past the screen's edge, nothing
over anything else, touch targets of at least 44 px) at three screen sizes, with screenshots.

Usage: web_browser.py URL SHOT_DIR
Prints one "result: ..." line per finding and "browser test passed" at the end; exits 1 with
"failed: ..." when a step does not happen before its deadline. For the MIDI steps it writes
SHOT_DIR/learn-note (then SHOT_DIR/learn-controller) once the looper waits for the trigger, and
removes it once the mapping shows; the caller sends the MIDI while the file is there.
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket

SIZES = [(390, 844), (820, 1180), (1024, 768)]
VIEWS = ["mixer", "menus", "drums", "learn", "panel"]

# Every visible control and text block, outermost only: none may leave the screen or lie over
# another; controls are at least 44 px each way. Returns the faults found.
LAYOUT_CHECK = """(() => {
 const W = innerWidth, faults = [];
 const name = e => e.tagName.toLowerCase() + (e.id ? '#' + e.id : '') +
   (e.className ? '.' + String(e.className).split(' ')[0] : '') + '[' + e.textContent.slice(0, 14) + ']';
 const all = [...document.querySelectorAll('button,input,select,canvas,.fader,.lcd,.info,.meter,h2,#log,.rowd span,.top span')]
   .filter(e => { const r = e.getBoundingClientRect(); return r.width > 0 && r.height > 0; });
 const els = all.filter(e => !all.some(o => o !== e && o.contains(e)));
 const boxes = els.map(e => [e, e.getBoundingClientRect()]);
 if (document.documentElement.scrollWidth > W) faults.push('page wider than the screen: ' + document.documentElement.scrollWidth);
 for (const [e, r] of boxes) {
  if (r.left < -0.5 || r.right > W + 0.5) faults.push('past the edge: ' + name(e));
  if (e.matches('button,input,select,.fader') && (r.width < 44 || r.height < 44)) faults.push('small: ' + name(e) + ' ' + r.width + 'x' + r.height);
 }
 for (let i = 0; i < boxes.length; i++) for (let j = i + 1; j < boxes.length; j++) {
  const a = boxes[i][1], b = boxes[j][1];
  if (Math.min(a.right, b.right) - Math.max(a.left, b.left) > 0.5 && Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top) > 0.5)
   faults.push('overlap: ' + name(boxes[i][0]) + ' and ' + name(boxes[j][0]));
 }
 return faults.slice(0, 10);
})()"""


class Failed(Exception):
    pass


class Page:
    def __init__(self, ws_url):
        self.ws = websocket.create_connection(ws_url, timeout=30)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise Failed(f"{method}: {reply['error']}")
                return reply.get("result", {})

    def js(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise Failed(f"script error in {expression!r}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait(self, expression, what, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.js(expression)
            if value:
                return value
            time.sleep(0.02)
        raise Failed(f"{what} (waited {timeout} s for {expression})")

    def layout(self, size):
        width, height = size
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=width < 800)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))


def start_browser(profile):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if chromium is None:
        raise Failed("chromium is missing (scripts/deps installs it)")
    browser = subprocess.Popen(
        [chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-extensions", "--remote-debugging-port=0", "--remote-debugging-address=127.0.0.1",
         f"--user-data-dir={profile}", "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, "DevToolsActivePort")
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if os.path.exists(port_file):
            with open(port_file) as f:
                lines = f.read().split()
            if lines:
                port = int(lines[0])
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list") as r:
                    targets = json.load(r)
                pages = [t for t in targets if t.get("type") == "page"]
                if pages:
                    return browser, pages[0]["webSocketDebuggerUrl"]
        time.sleep(0.1)
    browser.kill()
    raise Failed("chromium did not open its DevTools port")


def strip(n, field):
    return f"document.getElementById('strip{n}').dataset.{field}"


def line(n):
    return f"document.querySelector('#panel .l{n}').textContent"


def centre(page, selector, fx=0.5, scroll=True):
    """The point at fraction fx across the element (scrolled into view first unless scroll is
    False) and halfway down."""
    return page.js(f"(() => {{ const e = document.querySelector({json.dumps(selector)});"
                   f"if ({json.dumps(scroll)}) e.scrollIntoView({{block: 'center'}});"
                   "const r = e.getBoundingClientRect();"
                   f"return [r.x + r.width * {fx}, r.y + r.height / 2]; }})()")


def tap(page, selector):
    """Taps the element: a touch at its centre, as a finger would."""
    x, y = centre(page, selector)
    page.call("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": x, "y": y}])
    page.call("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])


def swipe(page, start, end, steps=8, during=None):
    """A finger from start to end; during(page) is called before it lifts."""
    (x0, y0), (x1, y1) = start, end
    page.call("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": x0, "y": y0}])
    for i in range(1, steps + 1):
        point = {"x": x0 + (x1 - x0) * i / steps, "y": y0 + (y1 - y0) * i / steps}
        page.call("Input.dispatchTouchEvent", type="touchMove", touchPoints=[point])
        time.sleep(0.02)
    seen = during(page) if during else None
    page.call("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])
    return seen


def view(page, name):
    tap(page, f'#tabs button[data-v="{name}"]')
    page.wait(f"document.getElementById('{name}').classList.contains('on')", f"the {name} view did not open")


def menu_row(text):
    """The menu list's row whose first part is text."""
    return ("[...document.querySelectorAll('#mlist button')].find(b => "
            f"b.firstChild.textContent === {json.dumps(text)})")


def tap_menu_row(page, text):
    page.wait(f"!!{menu_row(text)}", f"the menu list has no row {text!r}")
    index = page.js(menu_row(text) + ".dataset.i")
    tap(page, f'#mlist button[data-i="{index}"]')


def record_loop(page):
    page.wait(f"{strip(1, 'state')} === 'empty'", "track 1 is not empty at the start")
    tap(page, 'button[data-fn="Rec/Dub"]')
    page.wait(f"{strip(1, 'state')} === 'recording'", "track 1 did not start recording")
    latency = page.js(f"{strip(1, 'changed')} - window.zt4.sent")
    print(f"result: tap to recording shown {latency:.0f} ms")
    page.wait(f"Number({strip(1, 'length')}) > 48000", "track 1 did not record a second")
    tap(page, 'button[data-fn="Rec/Dub"]')
    word = page.wait(f"['overdubbing', 'playing'].includes({strip(1, 'state')}) && "
                     f"{strip(1, 'state')}", "track 1 did not close its loop")
    page.wait("window.zt4.waves[0].some(v => v !== 0)", "track 1 has no waveform")
    print(f"result: track 1 {word} with its waveform")


def mixer(page):
    """Track 2's level fader dragged to its middle; a swipe that starts beside a fader (a scroll)
    changes nothing."""
    fader = "#strip2 .fader[data-what=level]"
    start = centre(page, fader, 0.9)
    end = centre(page, fader, 0.5, scroll=False)
    shown = swipe(page, start, end,
                  during=lambda p: p.js(f"document.querySelector('{fader} .val').textContent"))
    wanted = page.js(f"document.querySelector('{fader}').value")
    if shown != f"{wanted} dB":
        raise Failed(f"the fader showed {shown!r} while dragged, not {wanted} dB")
    page.wait(f"state.tr[1][3] === {wanted}", "track 2's level did not follow the fader")
    print(f"result: track 2 level {wanted} (shown while dragging: {shown})")
    # A scroll starting on strip 3's waveform, across its level fader.
    start = centre(page, "#strip3 canvas", 0.5)
    x, y = centre(page, "#strip3 .fader[data-what=level]", 0.2, scroll=False)
    swipe(page, start, (x, y))
    time.sleep(0.3)
    if page.js("state.tr[2][3]") != 0:
        raise Failed(f"a swipe that began beside the fader moved it to {page.js('state.tr[2][3]')}")
    tap(page, "#strip3 .mute")
    page.wait("state.tr[2][3] === -96", "mute did not silence track 3")
    tap(page, "#strip3 .mute")
    page.wait("state.tr[2][3] === 0", "a second mute did not bring track 3 back")
    print("result: a swipe beside a fader changes nothing; mute and back")
    # The strip's Play/Stop: from overdubbing to playing, then stopped, then playing again.
    words = [page.js(strip(1, 'state'))]
    while words[-1] != "playing" or "stopped" not in words:
        if len(words) > 3:
            raise Failed(f"the strip's Play/Stop went {words}")
        tap(page, "#strip1 .ps")
        words.append(page.wait(f"{strip(1, 'state')} !== {json.dumps(words[-1])} && "
                               f"{strip(1, 'state')}", "the strip's Play/Stop changed nothing"))
    page.wait("state.sel === 1 && document.getElementById('strip1').classList.contains('sel')",
              "track 1 is not shown selected")
    print(f"result: the strip's Play/Stop took track 1 {' -> '.join(words)}, shown selected")


def menus(page):
    """A choice list and a value entry of the main menu, through the touch lists."""
    view(page, "menus")
    tap(page, "#mset")
    page.wait("panel.depth === 0", "the main menu is not on the panel")
    tap_menu_row(page, "Time display")
    page.wait("panel.title === 'Time display' && panel.kind === 'list'", "the choice list did not open")
    tap_menu_row(page, "Reverse")
    page.wait(menu_row("Time display") + "?.lastChild.textContent === 'Reverse'",
              "the main menu does not show the new choice")
    tap_menu_row(page, "Rnd Restart Max")
    page.wait("panel.kind === 'entry'", "the value entry did not open")
    page.js("document.getElementById('enum').value = 9")
    tap(page, "#eok")
    page.wait(menu_row("Rnd Restart Max") + "?.lastChild.textContent === '9'",
              "the main menu does not show the value entered")
    print("result: Time display set to Reverse and Rnd Restart Max to 9 through the menu lists")


def learn(page, shots):
    """A note learnt for "Redo" from the learn page's list, then track 2's level fader learnt
    from the mixer (learn mode, then a tap on the fader), then the note's mapping deleted."""
    def learnt(flag, shown):
        page.wait("panel.learn > 0", "learning did not start")
        open(os.path.join(shots, flag), "w").close()
        page.wait(f"document.getElementById('maps').textContent.includes({json.dumps(shown)})",
                  f"the mapping list does not show {shown}", timeout=20)
        os.remove(os.path.join(shots, flag))
        page.wait("panel.learn === 0", "the learn editor did not close")
        print(f"result: learnt {shown}")

    view(page, "learn")
    page.js("document.getElementById('lfn').value = 'Redo'")
    tap(page, "#lgo")
    page.wait("document.getElementById('lwait').textContent !== ''", "the page shows no waiting")
    learnt("learn-note", "Note 60 → Redo")
    view(page, "mixer")
    level = page.js("state.tr[1][3]")
    tap(page, "#mlearn")
    tap(page, "#strip2 .fader[data-what=level]")
    learnt("learn-controller", "CC 7 → Track 2 Volume")
    if page.js("state.tr[1][3]") != level:
        raise Failed("the tap that chose the fader to learn moved it")
    view(page, "learn")
    tap(page, '#maps button[data-u="316"]')
    page.wait("!document.getElementById('maps').textContent.includes('Note 60')",
              "the note's mapping was not deleted")
    print("result: the note's mapping deleted from the list")


def drums(page):
    view(page, "drums")
    tap(page, 'button[data-fn="Drums Start"]')
    page.wait("document.getElementById('dinfo').dataset.running === '1'", "the drums did not start")
    page.js("document.getElementById('bpmn').value = 132")
    tap(page, "#bpmok")
    page.wait("document.getElementById('dinfo').dataset.bpm === '132'", "the tempo did not change")
    source = page.wait("panel.drums[3] === 'Drum machine' && Math.abs(panel.drums[4] - 132) <= 1 && "
                       "panel.drums[4]", "the clock in use is not the drum machine's at its tempo",
                       timeout=20)
    tap(page, "#pup")
    page.wait("panel.drums[2] === 2", "the pattern did not change")
    print(f"result: drums playing at 132 BPM, pattern 2, clock in use: drum machine at {source} BPM")
    tap(page, 'button[data-fn="Drums Stop"]')
    page.wait("document.getElementById('dinfo').dataset.running === '0'", "the drums did not stop")


def refused(page):
    before = page.js("JSON.stringify([state.sel, state.tr.map(r => [r[0], r[1], r[3], r[4], r[5]]),"
                     " panel.depth, panel.drums.slice(0, 3), panel.maps, panel.pedals])")
    bad = ["fn No Such Function", "key 9999", "enc 99", "hello", "fn Track Erase\u0001",
           "key", "fn " + "x" * 100, "mix 2 level 5", "mix 9 pan 0", "mix 2 loud -3",
           "item 100", "value 1e3", "learn Nothing At All", "unmap 999", "unmap cc -1",
           "drums bpm 500", "drums pattern 65"]
    page.js("(() => { window.zt4.errors = []; for (const m of %s) ws.send(m); })()" % json.dumps(bad))
    page.wait("window.zt4.errors.length === %d" % len(bad), "bad messages were not refused")
    time.sleep(0.3)
    after = page.js("JSON.stringify([state.sel, state.tr.map(r => [r[0], r[1], r[3], r[4], r[5]]),"
                    " panel.depth, panel.drums.slice(0, 3), panel.maps, panel.pedals])")
    if after != before:
        raise Failed(f"bad messages changed the looper: {before} -> {after}")
    print(f"result: {len(bad)} malformed messages refused, nothing changed")


# The count-in settings, shown on the drums page once the state carries them: one state message
# with them, then in the same turn of the page's script (no newer state can come between) the
# buttons are counted, the layout checked and "Rec Length 2" tapped with the socket's send caught.
COUNT_IN_CHECK = """(() => {
 applyState(Object.assign({}, state, {rec_length: 2, count_in_bars: 1, click: 1, count_in: 3}));
 show('drums');
 const buttons = document.querySelectorAll('#count button');
 const faults = %s;
 const sent = [], keep = ws.send;
 ws.send = m => sent.push(m);
 [...buttons].find(b => b.textContent === '2 bars').click();
 ws.send = keep;
 return [buttons.length, document.querySelectorAll('#count button.on').length, faults, sent,
         document.getElementById('count').textContent.includes('Count-in: 3')];
})()""" % LAYOUT_CHECK


def layouts(page, shots):
    page.wait("document.getElementById('status').textContent === 'connected'",
              "the last refusal stayed on the status line")
    for width, height in SIZES:
        page.layout((width, height))
        page.wait("innerWidth === %d" % width, f"the {width}x{height} layout did not apply")
        for name in VIEWS:
            page.js(f"show('{name}')")
            time.sleep(0.05)
            faults = page.js(LAYOUT_CHECK)
            if faults:
                raise Failed(f"{name} at {width}x{height}: {faults}")
        count = page.js(COUNT_IN_CHECK)
        if count != [12, 3, [], ["fn Rec Length 2"], True]:
            raise Failed(f"the count-in settings at {width}x{height}: {count}")
        page.js("show('mixer'); window.scrollTo(0, 0)")
        page.screenshot(os.path.join(shots, f"web-{width}x{height}.png"))
    page.layout(SIZES[0])
    page.js("show('menus'); window.scrollTo(0, 0)")
    page.screenshot(os.path.join(shots, "web-menus.png"))
    print(f"result: {len(VIEWS)} views at {len(SIZES)} sizes (and the count-in settings): nothing "
          f"past the edge, nothing overlapping, targets at least 44 px; screenshots in {shots}")


def run(url, shots):
    os.makedirs(shots, exist_ok=True)
    for flag in ("learn-note", "learn-controller"):
        if os.path.exists(os.path.join(shots, flag)):
            os.remove(os.path.join(shots, flag))
    profile = tempfile.mkdtemp(prefix="zt4-chromium-")
    browser, ws_url = start_browser(profile)
    try:
        page = Page(ws_url)
        page.call("Page.enable")
        page.call("Runtime.enable")
        page.call("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=1)
        page.layout(SIZES[0])
        page.call("Page.navigate", url=url)
        page.wait("window.zt4 && window.zt4.updates > 0", "the page got no state from the looper")
        first = page.js("window.zt4.first")
        if first != "state":
            raise Failed(f"the first message was {first!r}, not the state")
        size = page.js("document.documentElement.outerHTML.length")
        print(f"result: page {size} characters, the state in the first message")
        # A lost connection covers the page with "connecting" until the state comes again.
        page.js("ws.close()")
        page.wait("!document.body.classList.contains('live') && "
                  "getComputedStyle(document.getElementById('cover')).display !== 'none'",
                  "a lost connection did not show \"connecting\"")
        page.wait("document.body.classList.contains('live') && window.zt4.first === 'state'",
                  "the page did not come back with the state first")
        print("result: \"connecting\" shown while the socket was down, the state first again")

        record_loop(page)
        mixer(page)
        menus(page)
        learn(page, shots)
        drums(page)
        refused(page)
        errors = page.js("window.zt4.errors")
        if len(errors) != 17:
            raise Failed(f"the looper refused messages: {errors}")

        # The panel view keeps the two-line display and its keys.
        view(page, "panel")
        tap(page, '#panel button[data-key="2080"]')
        page.wait(f"{line(0)}.includes('Track 1')", "track key 1 did not open the track menu")
        tap(page, '#panel button[data-key="0880"]')
        # The log hides and comes back.
        tap(page, "#logt")
        page.wait("getComputedStyle(document.getElementById('logbox')).display === 'none'",
                  "the log did not hide")
        tap(page, "#logt")
        page.wait("getComputedStyle(document.getElementById('logbox')).display !== 'none'",
                  "the log did not come back")
        layouts(page, shots)
    finally:
        browser.terminate()
        try:
            browser.wait(10)
        except subprocess.TimeoutExpired:
            browser.kill()
            browser.wait()
        shutil.rmtree(profile, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    try:
        run(sys.argv[1], sys.argv[2])
    except Failed as e:
        print(f"failed: {e}")
        return 1
    print("browser test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
