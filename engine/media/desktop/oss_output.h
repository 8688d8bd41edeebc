// Output to the OSS sound device ("/dev/dsp", or the path in the environment
// variable ZQ_DSP_DEVICE): 16-bit little-endian stereo after the usual OSS
// set-up calls. A plain file or a FIFO takes the same raw samples without the
// set-up calls; a plain file is fed at the real-time rate so it does not grow
// faster than sound would play.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace media {

// The environment variable that names another device path.
inline constexpr const char* kDspDeviceVariable = "ZQ_DSP_DEVICE";
inline constexpr const char* kDefaultDspDevice = "/dev/dsp";

// Returns the device path: the ZQ_DSP_DEVICE value when set and not empty,
// else "/dev/dsp".
std::string DspDevicePath();
// Returns true when the device path can be opened for writing now.
// Note: a FIFO counts only while something has it open for reading.
bool DspDeviceAvailable();

// One open output device; closes it when destroyed.
class OssOutput {
  public:
    OssOutput() = default;
    ~OssOutput();
    OssOutput(const OssOutput&) = delete;
    OssOutput& operator=(const OssOutput&) = delete;

    // Opens the device and asks for 16-bit stereo at wanted_rate; returns
    // false when it cannot be opened or refuses the sample format.
    bool Open(const std::string& path, int wanted_rate);
    // Returns the output rate agreed with the device.
    int Rate() const { return rate_; }
    // Returns true when the set-up calls were accepted (a real sound device).
    bool IsDevice() const { return device_; }
    // Waits at most timeout_ms until the output takes more data; returns
    // false on time-out.
    bool WaitWritable(int timeout_ms);
    // Writes up to size bytes; returns the bytes taken (0 when the output is
    // full) or -1 when the output failed for good.
    long Write(const void* data, size_t size);
    // Closes the output (also done by the destructor).
    void Close();

  private:
    int fd_ = -1;
    int rate_ = 0;
    bool device_ = false;
    bool paced_ = false;  // a plain file: feed at the real-time rate
    std::chrono::steady_clock::time_point start_;
    int64_t bytes_written_ = 0;
};

}  // namespace media
