// The "FreeMixer" audio driver: a thread renders the mixer in small blocks and
// writes them to the OSS output; it stops and joins when the driver shuts
// down. A device that fails while running leaves the driver silent.
#include "engine/media/desktop/audio_freemixer.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/media/desktop/mixer.h"
#include "engine/media/desktop/oss_output.h"
#include "engine/media/terminate.h"

namespace media::audio_detail {

namespace {

// Constants ------------------------------------------------------------------

constexpr int kBlockFrames = 512;  // about 12 ms at 44.1 kHz
constexpr int kWaitMs = 20;        // how soon the thread notices a stop request

// Types ------------------------------------------------------------------------

class FreeMixerDriver : public AudioDriver {
  public:
    ~FreeMixerDriver() override { Shutdown(); }

    bool Start() override {
        auto output = std::make_unique<OssOutput>();
        if (!output->Open(DspDevicePath(), kMixerRate)) return false;
        mixer_ = std::make_shared<Mixer>(output->Rate());
        output_ = std::move(output);
        stop_ = false;
        // The mixer leaves SIGTERM, SIGINT and SIGHUP to the main thread.
        detail::TerminateSignalsBlocked blocked;
        thread_ = std::thread([this] { Run(); });
        return true;
    }

    std::shared_ptr<Voice> NewVoice() override {
        if (!mixer_) mixer_ = std::make_shared<Mixer>();  // never started: stays silent
        return mixer_->NewVoice();
    }

    void Shutdown() override {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (mixer_) mixer_->Close();
        output_.reset();
    }

  private:
    // The output thread: render a block, hand it to the device piece by piece.
    void Run() {
        // A FIFO whose reader has gone must not kill the program: block
        // SIGPIPE here so write() reports EPIPE instead.
        sigset_t pipe_set;
        sigemptyset(&pipe_set);
        sigaddset(&pipe_set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_set, nullptr);

        std::vector<int16_t> block(kBlockFrames * 2);
        const size_t block_bytes = block.size() * sizeof(int16_t);
        size_t sent = block_bytes;
        while (!stop_) {
            if (!output_->WaitWritable(kWaitMs)) continue;
            if (sent == block_bytes) {
                mixer_->Render(block.data(), kBlockFrames);
                sent = 0;
            }
            long n = output_->Write(reinterpret_cast<const char*>(block.data()) + sent,
                                    block_bytes - sent);
            if (n < 0) break;
            sent += static_cast<size_t>(n);
        }
        // Drop a SIGPIPE that may be pending so it never reaches the program.
        timespec zero{0, 0};
        while (sigtimedwait(&pipe_set, nullptr, &zero) > 0) {
        }
        if (!stop_) mixer_->Close();  // the device failed: go silent
    }

    std::shared_ptr<Mixer> mixer_;
    std::unique_ptr<OssOutput> output_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

// Public functions -------------------------------------------------------------

std::unique_ptr<AudioDriver> MakeFreeMixerDriver() {
    return std::make_unique<FreeMixerDriver>();
}

}  // namespace media::audio_detail
