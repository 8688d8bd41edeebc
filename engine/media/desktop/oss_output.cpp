// Output to the OSS sound device, a FIFO or a plain file.
#include "engine/media/desktop/oss_output.h"

#include <fcntl.h>
#include <linux/soundcard.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

namespace media {

// Constants ------------------------------------------------------------------

constexpr int kFrameBytes = 4;  // 16-bit stereo
// 8 fragments of 2^11 bytes: about 90 ms of sound queued in the device.
constexpr int kFragmentSetting = (8 << 16) | 11;
// How far a plain file may run ahead of real time, in milliseconds.
constexpr int kPacedLeadMs = 100;

// Public functions -------------------------------------------------------------

std::string DspDevicePath() {
    const char* env = std::getenv(kDspDeviceVariable);
    return env != nullptr && *env != '\0' ? std::string(env) : std::string(kDefaultDspDevice);
}

bool DspDeviceAvailable() {
    // Non-blocking, so a FIFO without a reader or a busy device answers at once.
    int fd = ::open(DspDevicePath().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

OssOutput::~OssOutput() {
    Close();
}

bool OssOutput::Open(const std::string& path, int wanted_rate) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    rate_ = wanted_rate;
    device_ = false;
    paced_ = false;
    bytes_written_ = 0;
    start_ = std::chrono::steady_clock::now();
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        paced_ = true;
        if (::ftruncate(fd_, 0) != 0) {
            Close();
            return false;
        }
    }
    int fragment = kFragmentSetting;
    ::ioctl(fd_, SNDCTL_DSP_SETFRAGMENT, &fragment);  // a hint; failure is harmless
    int format = AFMT_S16_LE;
    if (::ioctl(fd_, SNDCTL_DSP_SETFMT, &format) != 0) {
        // Not a sound device (a file or a FIFO): raw samples at our own rate.
        return true;
    }
    int channels = 2;
    int speed = wanted_rate;
    if (format != AFMT_S16_LE || ::ioctl(fd_, SNDCTL_DSP_CHANNELS, &channels) != 0 ||
        channels != 2 || ::ioctl(fd_, SNDCTL_DSP_SPEED, &speed) != 0 || speed <= 0) {
        Close();
        return false;
    }
    device_ = true;
    rate_ = speed;
    return true;
}

bool OssOutput::WaitWritable(int timeout_ms) {
    if (fd_ < 0) return false;
    if (paced_) {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start_)
                           .count();
        int64_t due = (elapsed + kPacedLeadMs) * rate_ / 1000;
        if (bytes_written_ / kFrameBytes < due) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout_ms, 10)));
        return false;
    }
    pollfd p{fd_, POLLOUT, 0};
    // An error or hang-up also counts: the next write then reports it.
    return ::poll(&p, 1, timeout_ms) > 0 &&
           (p.revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL)) != 0;
}

long OssOutput::Write(const void* data, size_t size) {
    if (fd_ < 0) return -1;
    ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return 0;
        return -1;  // the reader went away, the device was unplugged, the disk is full
    }
    bytes_written_ += n;
    return static_cast<long>(n);
}

void OssOutput::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace media
