// The X11 window, GLX context, display modes and event pump; see display.h.
#include "engine/media/desktop/display.h"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/xf86vmode.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "engine/media/asset_read.h"
#include "engine/media/terminate.h"

namespace media::detail {

namespace {

constexpr long kEventMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | FocusChangeMask | EnterWindowMask |
                            LeaveWindowMask | StructureNotifyMask | ExposureMask;
constexpr int kMapWaitMs = 2000;
// Crash signals: the desktop's mode is put back from the handler as a best
// effort (Xlib is not async-signal-safe; the process is dying anyway).
// SIGTERM, SIGINT and SIGHUP take the orderly way out instead (terminate.h).
constexpr int kFatalSignals[] = {SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

using SwapIntervalExt = void (*)(Display*, GLXDrawable, int);
using SwapIntervalMesa = int (*)(unsigned int);

// The desktop mode to put back, and the signal handlers we replaced.
struct ModeRestore {
    Display* display = nullptr;
    int screen = 0;
    XF86VidModeModeInfo original{};
    volatile sig_atomic_t active = 0;
    bool handlers_installed = false;
    struct sigaction previous[sizeof kFatalSignals / sizeof kFatalSignals[0]];
    bool atexit_registered = false;
};

// Everything the display side keeps: the open window and the mode restore.
struct DisplayGlobals {
    XWindow* current = nullptr;
    bool vidmode_disabled = false;
    ModeRestore restore;
    int last_x_error = 0;
    bool io_handler_installed = false;
    std::function<void()> connection_lost;
};

DisplayGlobals g_display;

int QuietXErrorHandler(Display*, XErrorEvent* e) {
    g_display.last_x_error = e->error_code;
    return 0;
}

// Xlib calls this when the server connection is gone; it must not return
// (Xlib would end the process itself) and nothing may call Xlib again.
int OnConnectionLost(Display*) {
    g_display.restore.active = 0;  // no mode to put back on a server that is gone
    g_display.restore.display = nullptr;
    if (g_display.connection_lost) g_display.connection_lost();
    std::fputs("lost the connection to the X server\n", stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

void InstallConnectionLostHandler() {
    if (g_display.io_handler_installed) return;
    // A write to a server that is gone must fail into the handler below,
    // not end the process with SIGPIPE before anything is saved.
    signal(SIGPIPE, SIG_IGN);
    XSetIOErrorHandler(OnConnectionLost);
    g_display.io_handler_installed = true;
}

// Sends the queued requests and returns the X error they caused (0 for none);
// the stored code is cleared.
int SyncAndTakeXError(Display* d) {
    XSync(d, False);
    int error = g_display.last_x_error;
    g_display.last_x_error = 0;
    return error;
}

// Opens the connection to the X server, trying again for a moment when it is
// refused; without DISPLAY there is nothing to wait for.
Display* OpenDisplay() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return nullptr;
    Display* d = nullptr;
    RetryDisplayOpen([&d] { return (d = XOpenDisplay(nullptr)) != nullptr; },
                     [](int ms) { usleep(static_cast<useconds_t>(ms) * 1000); });
    return d;
}

// Owns a display connection used only for a query.
struct DisplayConnection {
    Display* d = OpenDisplay();
    ~DisplayConnection() {
        if (d) XCloseDisplay(d);
    }
};

bool VidModeAvailable(Display* d) {
    int ev = 0, err = 0;
    return !g_display.vidmode_disabled && XF86VidModeQueryExtension(d, &ev, &err);
}

int BitsPerPixel(Display* d, int depth) {
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(d, &count);
    int bpp = depth;
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == depth) bpp = formats[i].bits_per_pixel;
    }
    if (formats) XFree(formats);
    return bpp;
}

int ModeHertz(const XF86VidModeModeInfo& m) {
    if (m.htotal == 0 || m.vtotal == 0) return 60;
    double hz = m.dotclock * 1000.0 / (static_cast<double>(m.htotal) * m.vtotal);
    return static_cast<int>(std::lround(hz));
}

std::vector<TGraphicsMode> ModesOf(Display* d) {
    std::vector<TGraphicsMode> modes;
    int screen = DefaultScreen(d);
    int bpp = BitsPerPixel(d, DefaultDepth(d, screen));
    if (VidModeAvailable(d)) {
        int count = 0;
        XF86VidModeModeInfo** list = nullptr;
        if (XF86VidModeGetAllModeLines(d, screen, &count, &list) && list) {
            for (int i = 0; i < count; ++i) {
                modes.push_back({list[i]->hdisplay, list[i]->vdisplay, bpp, ModeHertz(*list[i])});
            }
            XFree(list);
        }
    }
    if (modes.empty()) {
        modes.push_back({DisplayWidth(d, screen), DisplayHeight(d, screen), bpp, 60});
    }
    return modes;
}

void RestoreNow() {
    ModeRestore& r = g_display.restore;
    if (!r.active || !r.display) return;
    r.active = 0;
    XF86VidModeSwitchToMode(r.display, r.screen, &r.original);
    XF86VidModeSetViewPort(r.display, r.screen, 0, 0);
    XFlush(r.display);
}

void OnFatalSignal(int sig) {
    // Best effort: put the desktop back, then die the way the signal meant.
    RestoreNow();
    signal(sig, SIG_DFL);
    raise(sig);
}

void RestoreAtExit() {
    RestoreNow();
}

void InstallRestoreHandlers() {
    ModeRestore& r = g_display.restore;
    if (!r.atexit_registered) {
        std::atexit(RestoreAtExit);
        r.atexit_registered = true;
    }
    if (r.handlers_installed) return;
    for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = OnFatalSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND;
        sigaction(kFatalSignals[i], &sa, &r.previous[i]);
    }
    r.handlers_installed = true;
}

void RemoveRestoreHandlers() {
    ModeRestore& r = g_display.restore;
    if (!r.handlers_installed) return;
    for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
        sigaction(kFatalSignals[i], &r.previous[i], nullptr);
    }
    r.handlers_installed = false;
}

}  // namespace

bool RetryDisplayOpen(const std::function<bool()>& tryOpen, const std::function<void(int)>& pause) {
    for (int attempt = 1; attempt <= kDisplayOpenTries; ++attempt) {
        errno = 0;
        if (tryOpen()) return true;
        const int error = errno;
        ReportMediaLine("\tCould not open the display (try " + std::to_string(attempt) + " of " +
                        std::to_string(kDisplayOpenTries) +
                        "): " + (error != 0 ? std::strerror(error) : "no reason given"));
        if (attempt < kDisplayOpenTries) pause(kDisplayOpenPauseMs);
    }
    return false;
}

int PickModeLine(const std::vector<TGraphicsMode>& modes, int width, int height, int hertz) {
    int first_of_size = -1;
    for (size_t i = 0; i < modes.size(); ++i) {
        const TGraphicsMode& m = modes[i];
        if (m.width != width || m.height != height) continue;
        if (hertz == 0 || m.hertz == hertz) return static_cast<int>(i);
        if (first_of_size < 0) first_of_size = static_cast<int>(i);
    }
    return first_of_size;
}

namespace {

// Switches to the listed mode of that size and rate (see PickModeLine); false
// when none is listed or the server refused the switch.
bool SwitchMode(Display* d, int screen, int w, int h, int hertz) {
    int count = 0;
    XF86VidModeModeInfo** list = nullptr;
    if (!XF86VidModeGetAllModeLines(d, screen, &count, &list) || !list) return false;
    std::vector<TGraphicsMode> lines;
    for (int i = 0; i < count; ++i) {
        lines.push_back({list[i]->hdisplay, list[i]->vdisplay, 0, ModeHertz(*list[i])});
    }
    const int pick = PickModeLine(lines, w, h, hertz);
    bool ok = false;
    if (pick == 0) {
        ok = true;  // the first entry is the mode in use
    } else if (pick > 0) {
        ModeRestore& r = g_display.restore;
        r.display = d;
        r.screen = screen;
        r.original = *list[0];
        InstallRestoreHandlers();
        r.active = 1;
        g_display.last_x_error = 0;
        ok = XF86VidModeSwitchToMode(d, screen, list[pick]) != 0 && SyncAndTakeXError(d) == 0;
        if (ok) {
            XF86VidModeSetViewPort(d, screen, 0, 0);
        } else {
            RestoreNow();
        }
    }
    XFree(list);
    return ok;
}

}  // namespace

struct XWindow::Impl {
    Display* display = nullptr;
    int screen = 0;
    Window window = 0;
    Colormap colormap = 0;
    GLXContext context = nullptr;
    Cursor blank_cursor = 0;
    Atom wm_delete = 0;
    bool fullscreen = false;
    bool grabbed = false;
    int width = 0, height = 0;
    int swap_interval = -1;
    SwapIntervalExt swap_ext = nullptr;
    SwapIntervalMesa swap_mesa = nullptr;
    XErrorHandler old_handler = nullptr;

    ~Impl() {
        if (!display) return;
        ReleaseGrabs();
        if (context) {
            glXMakeCurrent(display, 0, nullptr);
            glXDestroyContext(display, context);
        }
        if (blank_cursor) XFreeCursor(display, blank_cursor);
        if (window) XDestroyWindow(display, window);
        if (colormap) XFreeColormap(display, colormap);
        if (g_display.restore.display == display) {
            RestoreNow();
            RemoveRestoreHandlers();
            g_display.restore.display = nullptr;
        }
        XSync(display, False);
        XCloseDisplay(display);
        XSetErrorHandler(old_handler);
    }

    // Keeps pointer and keyboard inside a full-screen window, so the
    // mouse-steered ship can never leave the screen or click another window.
    void TakeGrabs() {
        if (!fullscreen || grabbed) return;
        const unsigned int mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
        bool pointer = XGrabPointer(display, window, True, mask, GrabModeAsync, GrabModeAsync,
                                    window, None, CurrentTime) == GrabSuccess;
        bool keyboard = XGrabKeyboard(display, window, True, GrabModeAsync, GrabModeAsync,
                                      CurrentTime) == GrabSuccess;
        if (pointer && !keyboard) XUngrabPointer(display, CurrentTime);
        if (keyboard && !pointer) XUngrabKeyboard(display, CurrentTime);
        grabbed = pointer && keyboard;
    }

    void ReleaseGrabs() {
        if (!grabbed) return;
        XUngrabKeyboard(display, CurrentTime);
        XUngrabPointer(display, CurrentTime);
        XFlush(display);
        grabbed = false;
    }
};

XWindow::XWindow() : impl_(std::make_unique<Impl>()) {}

XWindow::~XWindow() {
    if (g_display.current == this) {
        g_display.current = nullptr;
        InputReleaseAll();
    }
}

std::unique_ptr<XWindow> XWindow::Open(int width, int height, int depth, int hertz,
                                       const std::string& title) {
    InstallConnectionLostHandler();
    // The GL driver may start rendering threads here; they leave SIGTERM,
    // SIGINT and SIGHUP to the main thread.
    TerminateSignalsBlocked blocked;
    auto win = std::make_unique<XWindow>();
    Impl& w = *win->impl_;
    w.display = OpenDisplay();
    if (!w.display) return nullptr;
    w.old_handler = XSetErrorHandler(QuietXErrorHandler);
    g_display.last_x_error = 0;
    w.screen = DefaultScreen(w.display);
    w.width = width;
    w.height = height;
    Window root = RootWindow(w.display, w.screen);
    bool fullscreen = depth != 0;
    w.fullscreen = fullscreen;
    if (fullscreen) {
        bool listed = false;
        for (const TGraphicsMode& m : ModesOf(w.display)) {
            listed = listed || (m.width == width && m.height == height && m.depth == depth);
        }
        if (!listed) return nullptr;
        if (VidModeAvailable(w.display) &&
            !SwitchMode(w.display, w.screen, width, height, hertz)) {
            return nullptr;
        }
    }
    int attribs[] = {
        GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, None};
    XVisualInfo* vi = glXChooseVisual(w.display, w.screen, attribs);
    if (!vi) return nullptr;
    w.colormap = XCreateColormap(w.display, root, vi->visual, AllocNone);
    XSetWindowAttributes swa;
    std::memset(&swa, 0, sizeof swa);
    swa.colormap = w.colormap;
    swa.event_mask = kEventMask;
    swa.border_pixel = 0;
    swa.background_pixel = 0;
    swa.override_redirect = fullscreen ? True : False;
    w.window = XCreateWindow(
        w.display, root, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
        vi->depth, InputOutput, vi->visual,
        CWColormap | CWEventMask | CWBorderPixel | CWBackPixel | CWOverrideRedirect, &swa);
    w.context = glXCreateContext(w.display, vi, nullptr, True);
    XFree(vi);
    if (!w.window || !w.context) return nullptr;

    // A fixed-size window: the window manager may not resize it.
    XSizeHints* hints = XAllocSizeHints();
    if (hints) {
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
        XSetWMNormalHints(w.display, w.window, hints);
        XFree(hints);
    }
    w.wm_delete = XInternAtom(w.display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(w.display, w.window, &w.wm_delete, 1);
    win->SetTitle(title);

    // An empty cursor for HideMouse.
    char empty[1] = {0};
    Pixmap bits = XCreateBitmapFromData(w.display, w.window, empty, 1, 1);
    XColor black;
    std::memset(&black, 0, sizeof black);
    w.blank_cursor = XCreatePixmapCursor(w.display, bits, bits, &black, &black, 0, 0);
    XFreePixmap(w.display, bits);
    // A window the server refused (no memory, a bad visual) is no window.
    if (SyncAndTakeXError(w.display) != 0) return nullptr;

    XMapRaised(w.display, w.window);
    // Wait (bounded) until the window is mapped so focus and read-backs work.
    for (int waited = 0; waited < kMapWaitMs; ++waited) {
        XEvent ev;
        if (XCheckTypedWindowEvent(w.display, w.window, MapNotify, &ev)) break;
        usleep(1000);
    }
    if (fullscreen) {
        XSetInputFocus(w.display, w.window, RevertToParent, CurrentTime);
        w.TakeGrabs();
    }
    if (!glXMakeCurrent(w.display, w.window, w.context)) return nullptr;
    if (SyncAndTakeXError(w.display) != 0) return nullptr;

    const char* ext = glXQueryExtensionsString(w.display, w.screen);
    std::string exts = ext ? ext : "";
    if (exts.find("GLX_EXT_swap_control") != std::string::npos) {
        w.swap_ext = reinterpret_cast<SwapIntervalExt>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXSwapIntervalEXT")));
    }
    if (exts.find("GLX_MESA_swap_control") != std::string::npos) {
        w.swap_mesa = reinterpret_cast<SwapIntervalMesa>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXSwapIntervalMESA")));
    }
    g_display.current = win.get();
    return win;
}

void XWindow::Swap(int interval) {
    Impl& w = *impl_;
    if (interval != w.swap_interval) {
        if (w.swap_ext) {
            w.swap_ext(w.display, w.window, interval);
        } else if (w.swap_mesa) {
            w.swap_mesa(static_cast<unsigned>(interval));
        }
        w.swap_interval = interval;
    }
    glXSwapBuffers(w.display, w.window);
}

int XWindow::Width() const {
    return impl_->width;
}
int XWindow::Height() const {
    return impl_->height;
}
Display* XWindow::XDisplay() const {
    return impl_->display;
}

void XWindow::SetTitle(const std::string& title) {
    // Titles are ISO 8859-1, which is what XStoreName expects.
    XStoreName(impl_->display, impl_->window, title.c_str());
    XFlush(impl_->display);
}

void XWindow::SetCursorVisible(bool visible) {
    if (visible) {
        XUndefineCursor(impl_->display, impl_->window);
    } else {
        XDefineCursor(impl_->display, impl_->window, impl_->blank_cursor);
    }
    XFlush(impl_->display);
}

void XWindow::Warp(int x, int y) {
    XWarpPointer(impl_->display, 0, impl_->window, 0, 0, 0, 0, x, y);
    XFlush(impl_->display);
}

std::vector<TGraphicsMode> QueryDisplayModes() {
    InstallConnectionLostHandler();
    if (g_display.current) return ModesOf(g_display.current->XDisplay());
    XErrorHandler old = XSetErrorHandler(QuietXErrorHandler);
    std::vector<TGraphicsMode> modes;
    {
        DisplayConnection c;
        if (c.d) modes = ModesOf(c.d);
    }
    XSetErrorHandler(old);
    return modes;
}

void SetConnectionLostHandler(std::function<void()> handler) {
    g_display.connection_lost = std::move(handler);
}

void SetVidModeDisabled(bool disabled) {
    g_display.vidmode_disabled = disabled;
}

void RestoreDesktopMode() {
    RestoreNow();
}

// --- The bridge's window side ----------------------------------------------

Display* CurrentDisplay() {
    return g_display.current ? g_display.current->XDisplay() : nullptr;
}

void PumpWindowEvents() {
    XWindow* win = g_display.current;
    if (!win) return;
    Display* d = win->XDisplay();
    Atom wm_delete = win->impl_->wm_delete;
    while (XPending(d) > 0) {
        XEvent ev;
        XNextEvent(d, &ev);
        switch (ev.type) {
            case KeyRelease: {
                // X auto-repeat sends release+press with one time stamp: pass the press only.
                if (XEventsQueued(d, QueuedAfterReading) > 0) {
                    XEvent next;
                    XPeekEvent(d, &next);
                    if (next.type == KeyPress && next.xkey.keycode == ev.xkey.keycode &&
                        next.xkey.time == ev.xkey.time) {
                        XNextEvent(d, &next);
                        InputHandleXEvent(next, true);
                        break;
                    }
                }
                InputHandleXEvent(ev, false);
                break;
            }
            case KeyPress:
            case ButtonPress:
            case ButtonRelease:
            case MotionNotify:
            case EnterNotify:
            case LeaveNotify:
                InputHandleXEvent(ev, false);
                break;
            case FocusIn:
            case FocusOut: {
                InputHandleXEvent(ev, false);
                const FocusEffect effect = FocusPolicy(ev.xfocus);
                if (effect.release_grab) win->impl_->ReleaseGrabs();
                if (effect.take_grab) win->impl_->TakeGrabs();
                break;
            }
            case ClientMessage:
                if (static_cast<Atom>(ev.xclient.data.l[0]) == wm_delete) InputPostCloseRequest();
                break;
            default:
                break;
        }
    }
}

}  // namespace media::detail
