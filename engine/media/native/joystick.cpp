// Linux joystick devices: opens each path once, skips a device already open
// under another path, takes the initial-state events before JoyCount returns
// (so start-up reads real rest positions), then keeps one reader thread per
// device. Readers wait in poll() on the device and a shared stop pipe, so a
// reset or the program's exit never waits on a blocked read.
#include "engine/media/joystick.h"

#include <fcntl.h>
#include <linux/joystick.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/media/terminate.h"

namespace media {

namespace {

constexpr int kMaxDeviceNumber = 8;
constexpr int kAxisSlots = 256;  // js_event.number is one byte
constexpr int kButtonWords = 4;  // 256 button bits
constexpr int kDefaultHatX = 6;
constexpr int kDefaultHatY = 7;
constexpr int kHatThreshold = 16384;  // half deflection counts as a direction
constexpr int kMaxInitialReads = 64;
constexpr uint8_t kEventButton = JS_EVENT_BUTTON;
constexpr uint8_t kEventAxis = JS_EVENT_AXIS;
constexpr uint8_t kEventInit = JS_EVENT_INIT;
constexpr int kAbsHat0X = 0x10;
constexpr int kAbsHat0Y = 0x11;

// An owned file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// What makes two paths the same device: the device number of a device node,
// else the file's inode.
struct DeviceIdentity {
    bool is_device = false;
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const DeviceIdentity&) const = default;
};

// One open joystick. The reader thread writes the atomics; the main thread
// reads them.
struct Device {
    std::string name;
    UniqueFd fd;
    DeviceIdentity identity;
    int reported_buttons = -1;  // from the driver, -1 when unknown
    int hat_x = kDefaultHatX;
    int hat_y = kDefaultHatY;
    std::array<std::atomic<int32_t>, kAxisSlots> axes{};
    std::array<std::atomic<uint64_t>, kButtonWords> buttons{};
    std::atomic<int> seen_buttons{0};  // highest button number seen + 1
    std::atomic<bool> connected{true};
    // Bytes of an event record split across reads (reader side only).
    std::array<unsigned char, sizeof(js_event)> partial{};
    size_t partial_length = 0;
    std::thread reader;
};

// The whole subsystem; its destructor stops the readers at program exit.
struct JoystickSystem {
    // Empty until the desktop part sets the default paths: a headless
    // program has no joysticks and never opens a device.
    std::vector<std::string> paths;
    bool opened = false;
    std::vector<std::unique_ptr<Device>> devices;
    UniqueFd stop_read;
    UniqueFd stop_write;

    ~JoystickSystem() { Stop(); }

    // Wakes every reader, joins it and closes the devices.
    void Stop() {
        if (stop_write.valid()) {
            const char byte = 1;
            while (::write(stop_write.get(), &byte, 1) < 0 && errno == EINTR) {
            }
        }
        for (auto& device : devices) {
            if (device->reader.joinable()) device->reader.join();
        }
        devices.clear();
        stop_read.Close();
        stop_write.Close();
        opened = false;
    }
};

JoystickSystem g_joy;

// Returns the device of a port, or null.
Device* PortDevice(int port) {
    if (port < 0 || port >= static_cast<int>(g_joy.devices.size())) return nullptr;
    return g_joy.devices[port].get();
}

// Applies one event record.
void ApplyEvent(Device& device, const js_event& event) {
    uint8_t type = event.type & static_cast<uint8_t>(~kEventInit);
    if (type == kEventButton) {
        uint64_t bit = uint64_t{1} << (event.number % 64);
        auto& word = device.buttons[event.number / 64];
        if (event.value) {
            word.fetch_or(bit, std::memory_order_relaxed);
        } else {
            word.fetch_and(~bit, std::memory_order_relaxed);
        }
        int count = event.number + 1;
        int seen = device.seen_buttons.load(std::memory_order_relaxed);
        if (count > seen) device.seen_buttons.store(count, std::memory_order_relaxed);
    } else if (type == kEventAxis) {
        device.axes[event.number].store(event.value, std::memory_order_relaxed);
    }
}

// Applies whole records from freshly read bytes, keeping a split record.
void ApplyBytes(Device& device, const unsigned char* bytes, size_t length) {
    while (length > 0) {
        size_t take = std::min(length, sizeof(js_event) - device.partial_length);
        std::memcpy(device.partial.data() + device.partial_length, bytes, take);
        device.partial_length += take;
        bytes += take;
        length -= take;
        if (device.partial_length == sizeof(js_event)) {
            js_event event;
            std::memcpy(&event, device.partial.data(), sizeof event);
            ApplyEvent(device, event);
            device.partial_length = 0;
        }
    }
}

// Marks the device gone: nothing of it stays held.
void Disconnect(Device& device) {
    for (auto& word : device.buttons) word.store(0, std::memory_order_relaxed);
    for (auto& axis : device.axes) axis.store(0, std::memory_order_relaxed);
    device.connected.store(false, std::memory_order_release);
}

enum class ReadResult { kData, kNothing, kGone };

// Reads once from the device (non-blocking) and applies what came.
ReadResult ReadOnce(Device& device) {
    std::array<unsigned char, sizeof(js_event) * 32> buffer;
    ssize_t n = ::read(device.fd.get(), buffer.data(), buffer.size());
    if (n > 0) {
        ApplyBytes(device, buffer.data(), static_cast<size_t>(n));
        return ReadResult::kData;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return ReadResult::kNothing;
    return ReadResult::kGone;  // end of file or a device error (unplugged)
}

// Takes the events already waiting (the driver's initial state) so that the
// first queries after JoyCount see the sticks' real positions.
void ReadInitialState(Device& device) {
    for (int i = 0; i < kMaxInitialReads; ++i) {
        ReadResult result = ReadOnce(device);
        if (result == ReadResult::kGone) {
            Disconnect(device);
            return;
        }
        if (result == ReadResult::kNothing) return;
    }
}

// The reader thread: waits for events or the stop signal.
void ReaderLoop(Device* device, int stop_fd) {
    while (device->connected.load(std::memory_order_acquire)) {
        std::array<pollfd, 2> fds{};
        fds[0] = {device->fd.get(), POLLIN, 0};
        fds[1] = {stop_fd, POLLIN, 0};
        int ready = ::poll(fds.data(), fds.size(), -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        short events = fds[0].revents;
        if (events & POLLIN) {
            if (ReadOnce(*device) == ReadResult::kGone) Disconnect(*device);
        } else if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            Disconnect(*device);
        }
    }
}

// Returns the identity of an open file, or false when fstat fails.
bool IdentityOf(int fd, DeviceIdentity& identity) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    identity.is_device = S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode);
    identity.dev = identity.is_device ? info.st_rdev : info.st_dev;
    identity.ino = identity.is_device ? 0 : info.st_ino;
    return true;
}

// Asks the driver for name, button count and hat axes; a FIFO answers none.
void QueryDriver(Device& device, int port) {
    char name[128] = {};
    if (::ioctl(device.fd.get(), JSIOCGNAME(sizeof name - 1), name) > 0 && name[0]) {
        device.name = name;
    } else {
        device.name = "Joystick " + std::to_string(port + 1);
    }
    unsigned char buttons = 0;
    if (::ioctl(device.fd.get(), JSIOCGBUTTONS, &buttons) >= 0) device.reported_buttons = buttons;
    unsigned char axis_count = 0;
    std::array<uint8_t, ABS_CNT> axis_map{};
    if (::ioctl(device.fd.get(), JSIOCGAXES, &axis_count) >= 0 &&
        ::ioctl(device.fd.get(), JSIOCGAXMAP, axis_map.data()) >= 0) {
        for (int i = 0; i < axis_count && i < ABS_CNT; ++i) {
            if (axis_map[i] == kAbsHat0X) device.hat_x = i;
            if (axis_map[i] == kAbsHat0Y) device.hat_y = i;
        }
    }
}

// Opens one path; returns null when it does not open or is already open.
std::unique_ptr<Device> OpenDevice(const std::string& path) {
    int raw = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (raw < 0) return nullptr;
    auto device = std::make_unique<Device>();
    device->fd = UniqueFd(raw);
    if (!IdentityOf(raw, device->identity)) return nullptr;
    for (const auto& other : g_joy.devices) {
        if (other->identity == device->identity) return nullptr;
    }
    return device;
}

// Returns the hat direction from its two axes.
double HatValue(int32_t x, int32_t y) {
    int dx = x > kHatThreshold ? 1 : (x < -kHatThreshold ? -1 : 0);
    int dy = y > kHatThreshold ? 1 : (y < -kHatThreshold ? -1 : 0);
    if (dx == 0 && dy == 0) return -1.0;
    // Clockwise from up in eighths: up, up-right, right, ... up-left.
    static constexpr double kEighths[3][3] = {
        {0.875, 0.0, 0.125},  // dy = -1 (up); dx = -1, 0, 1
        {0.75, -1.0, 0.25},   // dy = 0
        {0.625, 0.5, 0.375},  // dy = 1 (down)
    };
    return kEighths[dy + 1][dx + 1];
}

}  // namespace

int JoyCount() {
    if (g_joy.opened) return static_cast<int>(g_joy.devices.size());
    g_joy.opened = true;
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return 0;  // no readers can be stopped
    g_joy.stop_read = UniqueFd(pipe_fds[0]);
    g_joy.stop_write = UniqueFd(pipe_fds[1]);
    for (const auto& path : g_joy.paths) {
        auto device = OpenDevice(path);
        if (!device) continue;
        QueryDriver(*device, static_cast<int>(g_joy.devices.size()));
        ReadInitialState(*device);
        g_joy.devices.push_back(std::move(device));
    }
    // The readers leave SIGTERM, SIGINT and SIGHUP to the main thread.
    detail::TerminateSignalsBlocked blocked;
    for (auto& device : g_joy.devices) {
        try {
            device->reader = std::thread(ReaderLoop, device.get(), g_joy.stop_read.get());
        } catch (const std::system_error&) {
            // No thread to spare: the port keeps its initial state.
        }
    }
    return static_cast<int>(g_joy.devices.size());
}

std::string JoyName(int port) {
    Device* device = PortDevice(port);
    return device ? device->name : std::string();
}

int JoyButtonMask(int port) {
    Device* device = PortDevice(port);
    if (!device) return 0;
    int count = device->reported_buttons >= 0
                    ? device->reported_buttons
                    : device->seen_buttons.load(std::memory_order_relaxed);
    if (count >= 31) return 0x7fffffff;
    return (1 << count) - 1;
}

int JoyDown(int button, int port) {
    Device* device = PortDevice(port);
    if (!device || button < 0 || button >= kButtonWords * 64) return 0;
    uint64_t word = device->buttons[button / 64].load(std::memory_order_relaxed);
    return (word >> (button % 64)) & 1 ? 1 : 0;
}

double JoyAxis(int port, int axis) {
    Device* device = PortDevice(port);
    if (axis == JOY_HAT) {
        if (!device) return -1.0;
        return HatValue(device->axes[device->hat_x].load(std::memory_order_relaxed),
                        device->axes[device->hat_y].load(std::memory_order_relaxed));
    }
    if (!device || axis < JOY_X || axis > JOY_V) return 0.0;
    double value = device->axes[axis].load(std::memory_order_relaxed) / 32767.0;
    return std::clamp(value, -1.0, 1.0);
}

std::vector<std::string> DefaultJoystickPaths() {
    std::vector<std::string> paths;
    for (int n = 0; n < kMaxDeviceNumber; ++n) {
        paths.push_back("/dev/input/js" + std::to_string(n));
        paths.push_back("/dev/js" + std::to_string(n));
    }
    return paths;
}

void SetJoystickPaths(const std::vector<std::string>& paths) {
    g_joy.Stop();
    g_joy.paths = paths;
}

void ResetJoysticks() {
    g_joy.Stop();
}

}  // namespace media
