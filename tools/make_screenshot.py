#!/usr/bin/env python3
"""Remakes docs/screenshot.png: a game in progress, saved by the game's own screenshot key.

Starts a private Xvfb, runs the built game (build/dist) in a temporary copy of
its portable folder, starts a game on Hard with real X input events (XTest),
flies and fires for a few seconds, presses F11 and copies the PNG the game
saved. Every wait is bounded; the game, Xvfb and the temporary folder are gone
at the end. Needs Xvfb and the X11 and XTest libraries (scripts/setup.sh
installs them). Exit status 0 when the picture was made, 1 otherwise.

    tools/make_screenshot.py [--build DIR] [--out FILE] [--seconds S] [--size WxH]
"""
import argparse
import ctypes
import ctypes.util
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# The game's logical screen, and where the title screen puts its buttons there
# (the panel on the right is 415 wide; the rest is centred in what is left).
LOGICAL_W, LOGICAL_H = 1280, 960
CENTRE_X = (LOGICAL_W - 415) // 2
HARD_ROW_Y = LOGICAL_H // 2 + 200 + 50 * 2 + 20
START_Y = LOGICAL_H // 2 + 80
LOAD_SECONDS = 180
SCREEN_SECONDS = 60
# Files of an earlier run of the game in the runnable folder; not copied.
RUNTIME_FILES = {"Debug.txt", "Setup.ini", "nuscores.dat", "crash.dat", "Board.ini"}


class XImage(ctypes.Structure):
    """The leading fields of Xlib's XImage, up to the colour masks."""
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


class X:
    """A connection to the X server with the few Xlib and XTest calls this script needs."""

    def __init__(self, display):
        self.xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        xl = self.xlib
        xl.XOpenDisplay.restype = ctypes.c_void_p
        xl.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xl.XDefaultRootWindow.restype = ctypes.c_ulong
        xl.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        xl.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                  ctypes.POINTER(ctypes.c_ulong),
                                  ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                  ctypes.POINTER(ctypes.c_uint)]
        xl.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                  ctypes.POINTER(ctypes.c_char_p)]
        xl.XFree.argtypes = [ctypes.c_void_p]
        xl.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                    ctypes.POINTER(ctypes.c_ulong)] + \
            [ctypes.POINTER(ctypes.c_int)] * 2 + [ctypes.POINTER(ctypes.c_uint)] * 4
        xl.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                             ctypes.c_int, ctypes.c_int,
                                             ctypes.POINTER(ctypes.c_int),
                                             ctypes.POINTER(ctypes.c_int),
                                             ctypes.POINTER(ctypes.c_ulong)]
        xl.XGetImage.restype = ctypes.POINTER(XImage)
        xl.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                 ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        xl.XStringToKeysym.restype = ctypes.c_ulong
        xl.XStringToKeysym.argtypes = [ctypes.c_char_p]
        xl.XKeysymToKeycode.restype = ctypes.c_ubyte
        xl.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        xl.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        xl.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.dpy = xl.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display " + display)
        self.window = 0
        self.origin = (0, 0)
        self.size = (0, 0)

    def close(self):
        """Closes the connection."""
        self.xlib.XCloseDisplay(self.dpy)

    def _children(self, window):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        kids, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.xlib.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent),
                                    ctypes.byref(kids), ctypes.byref(count)):
            return []
        found = [kids[i] for i in range(count.value)]
        if kids:
            self.xlib.XFree(kids)
        return found

    def find_window(self, title_part):
        """Finds the top-level window whose title holds title_part; True when found."""
        for w in self._children(self.xlib.XDefaultRootWindow(self.dpy)):
            name = ctypes.c_char_p()
            if self.xlib.XFetchName(self.dpy, w, ctypes.byref(name)) and name.value:
                title = name.value.decode("latin-1")
                self.xlib.XFree(name)
                if title_part in title:
                    root = ctypes.c_ulong()
                    x, y = ctypes.c_int(), ctypes.c_int()
                    wd, ht, bw, dp = (ctypes.c_uint() for _ in range(4))
                    self.xlib.XGetGeometry(self.dpy, w, ctypes.byref(root), ctypes.byref(x),
                                           ctypes.byref(y), ctypes.byref(wd), ctypes.byref(ht),
                                           ctypes.byref(bw), ctypes.byref(dp))
                    ox, oy, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
                    self.xlib.XTranslateCoordinates(self.dpy, w, root.value, 0, 0,
                                                    ctypes.byref(ox), ctypes.byref(oy),
                                                    ctypes.byref(child))
                    self.window, self.origin = w, (ox.value, oy.value)
                    self.size = (wd.value, ht.value)
                    return True
        return False

    def mean_blue(self):
        """Returns the mean blue (0..255) of the window's picture, or -1 when unread."""
        w, h = self.size
        image = self.xlib.XGetImage(self.dpy, self.window, 0, 0, w, h, 0xFFFFFFFF, 2)
        if not image:
            return -1
        img = image.contents
        if img.bits_per_pixel != 32 or not img.blue_mask:
            return -1
        data = ctypes.string_at(img.data, img.bytes_per_line * img.height)
        shift = (img.blue_mask & -img.blue_mask).bit_length() - 1
        byte = shift // 8
        total = 0
        step = 7  # every 7th pixel of every 7th row is plenty for a mean
        count = 0
        for row in range(0, img.height, step):
            base = row * img.bytes_per_line
            for col in range(0, img.width, step):
                total += data[base + col * 4 + byte]
                count += 1
        # XDestroyImage is a macro: free the pixels and the structure as it does.
        self.xlib.XFree(ctypes.c_void_p(img.data))
        self.xlib.XFree(image)
        return total / count if count else -1

    def move_logical(self, x, y):
        """Moves the pointer to a point of the game's logical screen."""
        w, h = self.size
        self.xtst.XTestFakeMotionEvent(self.dpy, 0, self.origin[0] + int(x * w / LOGICAL_W),
                                       self.origin[1] + int(y * h / LOGICAL_H), 0)
        self.xlib.XSync(self.dpy, 0)

    def button(self, number, down):
        """Presses or releases a mouse button."""
        self.xtst.XTestFakeButtonEvent(self.dpy, number, 1 if down else 0, 0)
        self.xlib.XSync(self.dpy, 0)

    def key(self, name, down):
        """Presses or releases a key named by its keysym."""
        code = self.xlib.XKeysymToKeycode(self.dpy, self.xlib.XStringToKeysym(name.encode()))
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 1 if down else 0, 0)
        self.xlib.XSync(self.dpy, 0)

    def click(self, x, y):
        """Clicks the left button at a logical point, held long enough for a frame to see it."""
        self.move_logical(x, y)
        self.button(1, True)
        time.sleep(0.1)
        self.button(1, False)
        time.sleep(0.05)


def wait_for(condition, seconds, still_running):
    """Polls condition every 50 ms for up to seconds; False when it never held or the game ended."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        if not still_running():
            return False
        time.sleep(0.05)
    return condition()


def mirror(dist, to):
    """Copies the runnable folder's executable and links its data, leaving out runtime files."""
    os.makedirs(to, exist_ok=True)
    for entry in os.scandir(dist):
        target = os.path.join(to, entry.name)
        if entry.is_dir(follow_symlinks=False):
            mirror(entry.path, target)
        elif entry.name == "zarquill":
            shutil.copy2(entry.path, target)
        elif entry.name not in RUNTIME_FILES and "(Screenshot_" not in entry.name:
            os.symlink(os.path.abspath(entry.path), target)


def start_xvfb(size):
    """Starts a private Xvfb with a screen of size (w, h); returns (process, display name)."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             "%dx%dx24" % size, "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip():
        xvfb.kill()
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


def log_has(log, line):
    """Returns True when the game's log holds a line equal to line."""
    try:
        with open(log, encoding="latin-1") as f:
            return any(l.rstrip("\r\n") == line for l in f)
    except OSError:
        return False


def make(build, out, seconds, size):
    """Makes the screenshot in a window of size (w, h); returns a reason, or None when made."""
    dist = os.path.join(build, "dist")
    if not os.path.isfile(os.path.join(dist, "zarquill")):
        return f"no game in {dist}: build it first (ninja -C {build} zarquill zq_assets)"
    if not os.listdir(os.path.join(dist, "Files", "Common")):
        return f"no art in {dist}/Files/Common: build it first (ninja -C {build} zq_assets)"
    work = tempfile.mkdtemp(prefix="zq-screenshot-")
    xvfb = game = x = None
    try:
        mirror(dist, work)
        # The window's size is a setting, and the game offers the sizes the screen has.
        with open(os.path.join(work, "Files", "Setup.ini"), "w", encoding="ascii") as setup:
            setup.write("[Graphics]\r\nWidth=%d\r\nHeight=%d\r\n" % size)
        xvfb, display = start_xvfb(size)
        env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        env["DISPLAY"] = display
        with open(os.path.join(work, "stderr.txt"), "wb") as err:
            game = subprocess.Popen([os.path.join(work, "zarquill")], cwd=work, env=env,
                                    stdout=subprocess.DEVNULL, stderr=err)
        running = lambda: game.poll() is None
        log = os.path.join(work, "Files", "Debug.txt")
        x = X(display)
        if not wait_for(lambda: log_has(log, "Finished Loading") and x.find_window("Vantrelle"),
                        LOAD_SECONDS, running):
            return "the game did not load"
        # The title's backdrop is blue, the playfield dark: click Hard and start until it is.
        playing = lambda: 0 <= x.mean_blue() < 40

        def start_game():
            x.click(CENTRE_X - 50, HARD_ROW_Y)
            x.click(CENTRE_X, START_Y)
            return playing()
        if not wait_for(start_game, SCREEN_SECONDS, running):
            return "the game did not start"
        # Fly a slow figure of eight over the left half while firing in place.
        x.button(1, True)
        end = time.monotonic() + seconds
        t = 0.0
        while time.monotonic() < end and running():
            x.move_logical(360 + 180 * math.sin(t), 480 + 260 * math.sin(2 * t))
            t += 0.05
            time.sleep(0.03)
        x.key("F11", True)
        time.sleep(0.1)
        x.key("F11", False)
        saved = wait_for(lambda: log_has(log, "\tSaved Screenshot 1"), SCREEN_SECONDS, running)
        x.button(1, False)
        if not saved:
            return "the game did not save a screenshot"
        shots = [n for n in os.listdir(os.path.join(work, "Files")) if "(Screenshot_" in n]
        if len(shots) != 1:
            return f"expected one screenshot, found {shots}"
        shutil.copyfile(os.path.join(work, "Files", shots[0]), out)
        return None
    finally:
        if x:
            x.close()
        if game and game.poll() is None:
            game.send_signal(signal.SIGTERM)  # the game saves and leaves
            try:
                game.wait(30)
            except subprocess.TimeoutExpired:
                game.kill()
                game.wait()
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(root, "build"), help="the build folder")
    parser.add_argument("--out", default=os.path.join(root, "docs", "screenshot.png"),
                        help="where the picture goes")
    parser.add_argument("--seconds", type=float, default=9, help="seconds of play before F11")
    parser.add_argument("--size", default="640x480", help="the window's size, WxH")
    args = parser.parse_args()
    try:
        size = tuple(int(n) for n in args.size.split("x"))
        if len(size) != 2 or min(size) < 320:
            raise ValueError
    except ValueError:
        parser.error("--size needs WxH, each at least 320")
    try:
        problem = make(args.build, args.out, args.seconds, size)
    except (OSError, RuntimeError) as e:
        problem = str(e)
    if problem:
        print(f"make_screenshot: {problem}", file=sys.stderr)
        return 1
    print(f"make_screenshot: {args.out} ({os.path.getsize(args.out)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
