// The X11 window, GLX context, display modes and event pump; see display.h.
// Depends on Xlib, GLX, the XF86VidMode extension and the input side of x11_bridge.h.
#include "engine/media/display.h"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/xf86vmode.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace media::detail {

namespace {

constexpr long kEventMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | FocusChangeMask | EnterWindowMask |
                            LeaveWindowMask | StructureNotifyMask | ExposureMask;
constexpr int kMapWaitMs = 2000;
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                                 SIGBUS, SIGFPE,  SIGILL, SIGABRT};

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
};

DisplayGlobals g_display;

int QuietXErrorHandler(Display*, XErrorEvent* e) {
    g_display.last_x_error = e->error_code;
    return 0;
}

// Owns a display connection used only for a query.
struct DisplayConnection {
    Display* d = XOpenDisplay(nullptr);
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

// Switches to a w × h mode of the extension; false when it is not listed.
bool SwitchMode(Display* d, int screen, int w, int h) {
    int count = 0;
    XF86VidModeModeInfo** list = nullptr;
    if (!XF86VidModeGetAllModeLines(d, screen, &count, &list) || !list) return false;
    bool ok = false;
    for (int i = 0; i < count && !ok; ++i) {
        if (list[i]->hdisplay != w || list[i]->vdisplay != h) continue;
        if (list[0]->hdisplay == w && list[0]->vdisplay == h) {
            ok = true;  // already the current mode
            break;
        }
        ModeRestore& r = g_display.restore;
        r.display = d;
        r.screen = screen;
        r.original = *list[0];  // the first entry is the mode in use
        InstallRestoreHandlers();
        r.active = 1;
        ok = XF86VidModeSwitchToMode(d, screen, list[i]) != 0;
        if (ok) {
            XF86VidModeSetViewPort(d, screen, 0, 0);
        } else {
            r.active = 0;
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
    bool has_alpha = false;
    int width = 0, height = 0;
    int swap_interval = -1;
    SwapIntervalExt swap_ext = nullptr;
    SwapIntervalMesa swap_mesa = nullptr;
    XErrorHandler old_handler = nullptr;

    ~Impl() {
        if (!display) return;
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
};

XWindow::XWindow() : impl_(std::make_unique<Impl>()) {}

XWindow::~XWindow() {
    if (g_display.current == this) {
        g_display.current = nullptr;
        InputReleaseAll();
    }
}

std::unique_ptr<XWindow> XWindow::Open(int width, int height, int depth, const std::string& title) {
    auto win = std::make_unique<XWindow>();
    Impl& w = *win->impl_;
    w.display = XOpenDisplay(nullptr);
    if (!w.display) return nullptr;
    w.old_handler = XSetErrorHandler(QuietXErrorHandler);
    w.screen = DefaultScreen(w.display);
    w.width = width;
    w.height = height;
    Window root = RootWindow(w.display, w.screen);
    bool fullscreen = depth != 0;
    if (fullscreen) {
        bool listed = false;
        for (const TGraphicsMode& m : ModesOf(w.display)) {
            listed = listed || (m.width == width && m.height == height);
        }
        if (!listed) return nullptr;
        if (VidModeAvailable(w.display) && !SwitchMode(w.display, w.screen, width, height)) {
            return nullptr;
        }
    }
    int attribs[] = {
        GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, None};
    XVisualInfo* vi = glXChooseVisual(w.display, w.screen, attribs);
    if (!vi) return nullptr;
    int alpha_bits = 0;
    glXGetConfig(w.display, vi, GLX_ALPHA_SIZE, &alpha_bits);
    w.has_alpha = alpha_bits > 0;
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

    XMapRaised(w.display, w.window);
    // Wait (bounded) until the window is mapped so focus and read-backs work.
    for (int waited = 0; waited < kMapWaitMs; ++waited) {
        XEvent ev;
        if (XCheckTypedWindowEvent(w.display, w.window, MapNotify, &ev)) break;
        usleep(1000);
    }
    if (fullscreen) {
        XSetInputFocus(w.display, w.window, RevertToParent, CurrentTime);
    }
    if (!glXMakeCurrent(w.display, w.window, w.context)) return nullptr;

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

bool XWindow::HasAlpha() const {
    return impl_->has_alpha;
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

void PumpEvents() {
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
            case FocusIn:
                InputHandleXEvent(ev, false);
                break;
            case FocusOut:
                InputHandleXEvent(ev, false);
                InputReleaseAll();
                break;
            case ClientMessage:
                if (static_cast<Atom>(ev.xclient.data.l[0]) == wm_delete) InputPostCloseRequest();
                break;
            default:
                break;
        }
    }
}

}  // namespace media::detail
