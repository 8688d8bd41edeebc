// Fake devices for tests; see fake_devices.h.
#include "tests/support/fake_devices.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

// Xlib after gtest: its None and Bool macros break gtest headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace zqtest {

namespace {

// The kernel's joystick event record.
struct StickEvent {
    uint32_t time;
    int16_t value;
    uint8_t type;
    uint8_t number;
};

// Returns a window's title (WM_NAME), "" when it has none.
std::string WindowTitle(Display* display, Window w) {
    XTextProperty property;
    std::string title;
    if (XGetWMName(display, w, &property) && property.value) {
        title.assign(reinterpret_cast<char*>(property.value), property.nitems);
        XFree(property.value);
    }
    return title;
}

// Returns the first window at or below w whose title contains part (a viewable one
// when viewableOnly).
Window FindTitledBelow(Display* display, Window w, const std::string& part, bool viewableOnly) {
    if (WindowTitle(display, w).find(part) != std::string::npos) {
        XWindowAttributes attributes{};
        if (!viewableOnly ||
            (XGetWindowAttributes(display, w, &attributes) && attributes.map_state == IsViewable)) {
            return w;
        }
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, w, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        found = FindTitledBelow(display, children[i], part, viewableOnly);
    }
    if (children) XFree(children);
    return found;
}

}  // namespace

FakeStick::FakeStick(std::string path) : path_(std::move(path)) {
    EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    // Read-write keeps the open from blocking before a reader exists.
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd_, 0);
}

void FakeStick::WriteBytes(const void* bytes, size_t length) {
    ASSERT_EQ(::write(fd_, bytes, length), static_cast<ssize_t>(length));
}

void FakeStick::Event(uint8_t type, uint8_t number, int16_t value) {
    const StickEvent event{0, value, type, number};
    WriteBytes(&event, sizeof event);
}

void FakeStick::Unplug() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

unsigned long FindTitledWindow(_XDisplay* display, const std::string& part, bool viewableOnly) {
    return FindTitledBelow(display, DefaultRootWindow(display), part, viewableOnly);
}

void SendCloseRequest(_XDisplay* display, unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
}

}  // namespace zqtest
