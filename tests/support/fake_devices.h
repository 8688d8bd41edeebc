// Fake devices for tests: a FIFO posing as a joystick, and the window
// manager's close request sent to a window from a second X connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Xlib's own types, declared here so that this header does not bring in its
// None and Bool macros (which break gtest's headers).
struct _XDisplay;

namespace zqtest {

// The kernel's joystick event types (its header's key macros would clash
// with the program's key codes).
constexpr uint8_t kStickButton = 0x01;
constexpr uint8_t kStickAxis = 0x02;
constexpr uint8_t kStickInit = 0x80;

// A FIFO posing as a joystick device, with its write end held open.
class FakeStick {
  public:
    // Makes the FIFO at path and opens its write end.
    explicit FakeStick(std::string path);
    // Closes the write end.
    ~FakeStick() { Unplug(); }
    FakeStick(const FakeStick&) = delete;
    FakeStick& operator=(const FakeStick&) = delete;

    // Returns the device's path.
    const std::string& path() const { return path_; }
    // Writes raw bytes (a test failure when they do not all go).
    void WriteBytes(const void* bytes, size_t length);
    // Writes one event record.
    void Event(uint8_t type, uint8_t number, int16_t value);
    // Moves a raw axis to value.
    void Axis(uint8_t number, int16_t value) { Event(kStickAxis, number, value); }
    // Presses or releases a button.
    void Button(uint8_t number, bool down) { Event(kStickButton, number, down ? 1 : 0); }
    // Closes the write end: the reader sees the device go away.
    void Unplug();

  private:
    std::string path_;
    int fd_ = -1;
};

// Returns the first window under root whose title contains part (only a
// viewable one unless viewableOnly is false), or 0.
unsigned long FindTitledWindow(_XDisplay* display, const std::string& part,
                               bool viewableOnly = true);
// Sends the window manager's close request (WM_DELETE_WINDOW) to window.
void SendCloseRequest(_XDisplay* display, unsigned long window);

}  // namespace zqtest
