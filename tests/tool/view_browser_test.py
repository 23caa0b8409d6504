#!/usr/bin/env python3
"""kvsdk view on a trace that a host is writing, read by headless Chromium: each light in the
page's DOM shows the state and colour the host has just set. The server answers GET only and
only to the loopback names. Saves a screenshot of the page.

    view_browser_test.py <kvsdk executable> <scratch folder> <screenshot.png>
Exit 77: skipped (Chromium, its driver or Selenium is not installed)."""
import http.client
import os
import re
import shutil
import signal
import socket
import subprocess
import sys

CHROMIUM_ARGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1100,700"]
SIM = r"""mouse \\?\hid#vid_7a3e&pid_0e59&mi_00#1#{378de44c-56ef-11d1-bc8c-00a0c91405dd}
keyboard \\?\hid#vid_7a3e&pid_0e5a&mi_02#1#{884b96c3-56ef-11d1-bc8c-00a0c91405dd}
"""


def status(port, method, path, host):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.putrequest(method, path, skip_host=True)
    connection.putheader("Host", host)
    connection.endheaders()
    return connection.getresponse().status


def main(kvsdk, work, screenshot):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    with open(os.path.join(work, "sim.txt"), "w") as f:
        f.write(SIM)
    env = dict(os.environ, KVSDK_SIM=os.path.join(work, "sim.txt"),
               KVSDK_SIM_TRACE=os.path.join(work, "trace.txt"))
    host = lambda *args: subprocess.run([kvsdk, "set", *args], env=env, check=True,
                                        stdout=subprocess.DEVNULL)
    host("on", "--product", "pell", "--light", "1")  # the trace has begun before view starts
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    view = subprocess.Popen([kvsdk, "view", "--port", str(port)], env=env, stdout=subprocess.PIPE,
                            text=True)
    try:
        url = re.search(r"http://127\.0\.0\.1:\d+/", view.stdout.readline() + view.stdout.readline())
        assert url and url.group(0) == f"http://127.0.0.1:{port}/", "no address printed"
        for method, path, name, expected in [
                ("GET", "/", f"127.0.0.1:{port}", 200), ("GET", "/state", "localhost", 200),
                ("GET", "/", "attacker.example", 403), ("GET", "/", f"attacker.example:{port}", 403),
                ("GET", "/", f"127.0.0.1:{port + 1}", 403), ("POST", "/", "localhost", 405),
                ("HEAD", "/", "localhost", 405), ("GET", "/etc/passwd", "localhost", 404)]:
            got = status(port, method, path, name)
            assert got == expected, f"{method} {path} Host {name}: {got}, not {expected}"

        try:
            from selenium import webdriver
            from selenium.webdriver.chrome.service import Service
            from selenium.webdriver.support.ui import WebDriverWait
        except ImportError:
            return skip("python3-selenium is not installed")
        chromium, driver = shutil.which("chromium"), shutil.which("chromedriver")
        if not chromium or not driver:
            return skip("chromium or chromium-driver is not installed")
        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for arg in CHROMIUM_ARGS + ["--user-data-dir=" + os.path.join(work, "profile")]:
            options.add_argument(arg)
        browser = webdriver.Chrome(service=Service(executable_path=driver), options=options)
        try:
            browser.get(url.group(0))
            lamp = '.lamp[data-device="0E59"][data-light="light 0x01"]'
            for effect, expected in [(["color", "--rgb", "255,80,0"], ("on", "#FF5000")),
                                     (["off"], ("off", "#FF5000")),
                                     (["on"], ("on", "#FF5000")),
                                     (["color", "--rgb", "0,120,255"], ("on", "#0078FF"))]:
                host(effect[0], "--product", "pell_mouse_0e59", "--light", "1", *effect[1:])
                shown = lambda b: b.execute_script(
                    "const e = document.querySelector(arguments[0]);"
                    "return e && [e.dataset.state, e.dataset.color, getComputedStyle(e).backgroundColor]",
                    lamp)
                WebDriverWait(browser, 10).until(lambda b: tuple(shown(b)[:2]) == expected,
                                                 f"the page never showed {expected}")
            assert shown(browser)[2] == "rgb(0, 120, 255)", shown(browser)
            browser.save_screenshot(screenshot)
        finally:
            browser.quit()
    finally:
        view.send_signal(signal.SIGINT)
        assert view.wait(timeout=20) == 0, "kvsdk view did not end cleanly on Ctrl-C"
    print("PASSED; screenshot:", screenshot)
    return 0


def skip(reason):
    print("SKIPPED:", reason)
    return 77


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
