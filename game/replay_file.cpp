// Coding and decoding of replay files. Multi-byte numbers are little-endian;
// the step stream uses unsigned LEB128 varints and zigzag for signed deltas.
#include "game/replay_file.h"

#include <algorithm>
#include <memory>

#include "engine/media/asset_read.h"
#include "engine/media/binary_files.h"
#include "engine/media/durable_file.h"

namespace game {

namespace {

constexpr char kMagic[8] = {'Z', 'Q', 'R', 'E', 'P', 'L', 'A', 'Y'};
constexpr size_t kMagicBytes = sizeof kMagic;
// Magic, version, and the trailing CRC: no replay is shorter.
constexpr size_t kMinimumBytes = kMagicBytes + 4 + 4;
// Bounds of a logical screen a replay may name.
constexpr int32_t kMinScreen = 64;
constexpr int32_t kMaxScreen = 16384;
// The pointer may sit a little outside the logical screen (scaled windows).
constexpr int32_t kPointerLimit = 1 << 20;
constexpr size_t kMaxNameBytes = 4096;
constexpr size_t kMaxVersionBytes = 64;
// Longest coding of one step: tag, two size varints, two pointer varints, a run varint.
constexpr size_t kMaxStepBytes = 1 + 5 * 5;

// Tag bits of a step.
constexpr uint8_t kTagLeft = 1;
constexpr uint8_t kTagRight = 2;
constexpr uint8_t kTagPointer = 4;
constexpr uint8_t kTagSize = 8;
constexpr uint8_t kTagRun = 16;
constexpr uint8_t kTagKnown = 31;

// Appends little-endian numbers and varints to a byte string.
class Writer {
  public:
    std::string bytes;

    void U8(uint32_t v) { bytes += static_cast<char>(v & 0xFF); }
    void U16(uint32_t v) {
        U8(v);
        U8(v >> 8);
    }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void Var(uint64_t v) {
        while (v >= 0x80) {
            U8(static_cast<uint32_t>(v & 0x7F) | 0x80);
            v >>= 7;
        }
        U8(static_cast<uint32_t>(v));
    }
    void Zig(int64_t v) { Var((static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63)); }
    void Text(std::string_view s) { bytes.append(s.data(), s.size()); }
};

// Reads what Writer wrote; every read fails (and stays failed) past the end.
class Reader {
  public:
    explicit Reader(std::string_view data) : data_(data) {}

    bool ok() const { return ok_; }
    size_t left() const { return data_.size() - pos_; }

    uint32_t U8() {
        if (!Need(1)) return 0;
        return static_cast<uint8_t>(data_[pos_++]);
    }
    uint32_t U16() {
        uint32_t lo = U8();
        return lo | (U8() << 8);
    }
    uint32_t U32() {
        uint32_t lo = U16();
        return lo | (U16() << 16);
    }
    uint64_t U64() {
        uint64_t lo = U32();
        return lo | (static_cast<uint64_t>(U32()) << 32);
    }
    // A varint of at most 10 bytes whose value fits in 64 bits.
    uint64_t Var() {
        uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const uint32_t b = U8();
            if (!ok_) return 0;
            if (shift == 63 && b > 1) break;
            v |= static_cast<uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        ok_ = false;
        return 0;
    }
    int64_t Zig() {
        const uint64_t v = Var();
        return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
    }
    std::string Text(size_t n) {
        if (!Need(n)) return {};
        std::string s(data_.substr(pos_, n));
        pos_ += n;
        return s;
    }
    std::string_view Rest() {
        std::string_view s = data_.substr(pos_);
        pos_ = data_.size();
        return s;
    }

  private:
    bool Need(size_t n) {
        if (!ok_ || n > left()) ok_ = false;
        return ok_;
    }

    std::string_view data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

bool ScreenOk(int64_t w, int64_t h) {
    return w >= kMinScreen && w <= kMaxScreen && h >= kMinScreen && h <= kMaxScreen;
}

// Codes the steps as tags with changes and runs of repeated steps, then the checks.
std::string EncodeStream(const Replay& replay) {
    Writer w;
    ReplayStep prev{0, 0, false, false, replay.header.width, replay.header.height};
    const auto& steps = replay.steps;
    for (size_t i = 0; i < steps.size();) {
        const ReplayStep& s = steps[i];
        size_t run = 1;
        while (i + run < steps.size() && steps[i + run] == s) ++run;
        uint8_t tag = (s.left ? kTagLeft : 0) | (s.right ? kTagRight : 0);
        const bool moved = s.pointerX != prev.pointerX || s.pointerY != prev.pointerY;
        const bool resized = s.width != prev.width || s.height != prev.height;
        if (moved) tag |= kTagPointer;
        if (resized) tag |= kTagSize;
        if (run > 1) tag |= kTagRun;
        w.U8(tag);
        if (resized) {
            w.Var(static_cast<uint32_t>(s.width));
            w.Var(static_cast<uint32_t>(s.height));
        }
        if (moved) {
            w.Zig(static_cast<int64_t>(s.pointerX) - prev.pointerX);
            w.Zig(static_cast<int64_t>(s.pointerY) - prev.pointerY);
        }
        if (run > 1) w.Var(run - 1);
        prev = s;
        i += run;
    }
    for (uint32_t c : replay.checks) w.U32(c);
    return w.bytes;
}

// Decodes the stream of a header's frames and checks into out; false with a reason.
bool DecodeStream(std::string_view raw, Replay& out, std::string& error) {
    const ReplayHeader& h = out.header;
    Reader r(raw);
    out.steps.clear();
    out.steps.reserve(h.frames);
    ReplayStep prev{0, 0, false, false, h.width, h.height};
    while (out.steps.size() < h.frames) {
        const uint32_t tag = r.U8();
        if (!r.ok() || (tag & ~uint32_t{kTagKnown})) break;
        ReplayStep s = prev;
        s.left = tag & kTagLeft;
        s.right = tag & kTagRight;
        if (tag & kTagSize) {
            const uint64_t width = r.Var();
            const uint64_t height = r.Var();
            if (!ScreenOk(static_cast<int64_t>(std::min<uint64_t>(width, kMaxScreen + 1)),
                          static_cast<int64_t>(std::min<uint64_t>(height, kMaxScreen + 1)))) {
                error = "damaged (bad screen size in the steps)";
                return false;
            }
            s.width = static_cast<int32_t>(width);
            s.height = static_cast<int32_t>(height);
        }
        if (tag & kTagPointer) {
            const int64_t dx = r.Zig();
            const int64_t dy = r.Zig();
            const int64_t x =
                prev.pointerX + std::clamp<int64_t>(dx, -2 * kPointerLimit, 2 * kPointerLimit);
            const int64_t y =
                prev.pointerY + std::clamp<int64_t>(dy, -2 * kPointerLimit, 2 * kPointerLimit);
            if (x < -kPointerLimit || x > kPointerLimit || y < -kPointerLimit ||
                y > kPointerLimit) {
                error = "damaged (pointer out of range)";
                return false;
            }
            s.pointerX = static_cast<int32_t>(x);
            s.pointerY = static_cast<int32_t>(y);
        }
        uint64_t count = 1;
        if (tag & kTagRun) count += r.Var();
        if (!r.ok()) break;
        if (count > h.frames - out.steps.size()) {
            error = "damaged (more steps than the header says)";
            return false;
        }
        out.steps.insert(out.steps.end(), count, s);
        prev = s;
    }
    if (!r.ok() || out.steps.size() != h.frames) {
        error = "damaged (step data ends early or is malformed)";
        return false;
    }
    const uint32_t checks = ReplayCheckCount(h.frames);
    if (r.left() != size_t{checks} * 4) {
        error = "damaged (wrong number of check values)";
        return false;
    }
    out.checks.resize(checks);
    for (uint32_t& c : out.checks) c = r.U32();
    return true;
}

}  // namespace

uint32_t ReplayCheckCount(uint32_t frames) {
    return frames / kReplayCheckInterval + 1;
}

std::string EncodeReplay(const Replay& replay) {
    const ReplayHeader& h = replay.header;
    if (h.frames > kReplayMaxFrames || replay.steps.size() != h.frames ||
        replay.checks.size() != ReplayCheckCount(h.frames) || !ScreenOk(h.width, h.height) ||
        h.programVersion.size() > kMaxVersionBytes || h.name.size() > kMaxNameBytes ||
        !KnownRules(h.rules)) {
        return {};
    }
    for (const ReplayStep& s : replay.steps) {
        if (!ScreenOk(s.width, s.height) || s.pointerX < -kPointerLimit ||
            s.pointerX > kPointerLimit || s.pointerY < -kPointerLimit ||
            s.pointerY > kPointerLimit) {
            return {};
        }
    }
    const std::string raw = EncodeStream(replay);
    const std::string packed = media::PackBytes(raw);
    if (packed.empty()) return {};

    Writer w;
    w.Text(std::string_view(kMagic, kMagicBytes));
    w.U32(kReplayFormatVersion);
    w.U8(static_cast<uint32_t>(h.programVersion.size()));
    w.Text(h.programVersion);
    w.U8(static_cast<uint32_t>(h.difficulty));
    w.U16(static_cast<uint32_t>(h.width));
    w.U16(static_cast<uint32_t>(h.height));
    w.U8(static_cast<uint32_t>(h.slowSystem));
    w.U8(static_cast<uint32_t>(h.startParity));
    w.U32(h.frames);
    w.U64(static_cast<uint64_t>(h.score));
    w.U32(static_cast<uint32_t>(h.lives));
    w.U8(static_cast<uint32_t>(h.quit));
    w.U64(static_cast<uint64_t>(h.timestamp));
    w.U32(static_cast<uint32_t>(h.level));
    w.U32(static_cast<uint32_t>(h.gameFlags));
    w.U8(h.rules);
    w.U16(static_cast<uint32_t>(h.name.size()));
    w.Text(h.name);
    w.U32(static_cast<uint32_t>(raw.size()));
    w.U32(static_cast<uint32_t>(packed.size()));
    w.Text(packed);
    w.U32(media::Crc32(w.bytes));
    return w.bytes;
}

namespace {

// Reads and checks everything before the packed steps: the header, the file's
// check value and the sizes; packed is left on the packed step data.
bool DecodeHeaderPart(std::string_view bytes, ReplayHeader& h, uint32_t& rawSize,
                      std::string_view& packed, std::string& error) {
    h = ReplayHeader{};
    if (bytes.size() < kMinimumBytes) {
        const size_t n = std::min(bytes.size(), kMagicBytes);
        const bool magicSoFar = n > 0 && bytes.substr(0, n) == std::string_view(kMagic, n);
        error = magicSoFar ? "truncated" : "not a replay file";
        return false;
    }
    Reader r(bytes.substr(0, bytes.size() - 4));
    if (r.Text(kMagicBytes) != std::string_view(kMagic, kMagicBytes)) {
        error = "not a replay file";
        return false;
    }
    const uint32_t version = r.U32();
    if (version < kReplayOldestFormatVersion || version > kReplayFormatVersion) {
        error = "replay format version " + std::to_string(version) +
                " is not supported (this program reads versions " +
                std::to_string(kReplayOldestFormatVersion) + " to " +
                std::to_string(kReplayFormatVersion) + ")";
        return false;
    }
    Reader tail(bytes.substr(bytes.size() - 4));
    if (media::Crc32(bytes.substr(0, bytes.size() - 4)) != tail.U32()) {
        error = "damaged or truncated (file check value differs)";
        return false;
    }
    const uint32_t versionBytes = r.U8();
    if (versionBytes > kMaxVersionBytes) {
        error = "damaged (program version too long)";
        return false;
    }
    h.programVersion = r.Text(versionBytes);
    h.difficulty = static_cast<int32_t>(r.U8());
    h.width = static_cast<int32_t>(r.U16());
    h.height = static_cast<int32_t>(r.U16());
    h.slowSystem = static_cast<int32_t>(r.U8());
    h.startParity = static_cast<int32_t>(r.U8());
    h.frames = r.U32();
    h.score = static_cast<int64_t>(r.U64());
    h.lives = static_cast<int32_t>(r.U32());
    h.quit = static_cast<int32_t>(r.U8());
    h.timestamp = static_cast<int64_t>(r.U64());
    h.level = static_cast<int32_t>(r.U32());
    h.gameFlags = static_cast<int32_t>(r.U32());
    // Format 1 came before rules versions: its games were all played under rules 1.
    h.rules = version >= 2 ? r.U8() : 1;
    const uint32_t nameBytes = r.U16();
    if (nameBytes > kMaxNameBytes) {
        error = "damaged (name too long)";
        return false;
    }
    h.name = r.Text(nameBytes);
    rawSize = r.U32();
    const uint32_t packedSize = r.U32();
    if (!r.ok()) {
        error = "truncated header";
        return false;
    }
    if (h.difficulty > 2 || !ScreenOk(h.width, h.height) || h.slowSystem > 1 || h.startParity > 1 ||
        h.quit > 1 || h.frames > kReplayMaxFrames) {
        error = "damaged (header values out of range)";
        return false;
    }
    if (!KnownRules(h.rules)) {
        error = "rules version " + std::to_string(h.rules) +
                " is not known to this program (it plays rules " + std::to_string(kOldestRules) +
                " to " + std::to_string(kNewestRules) + ")";
        return false;
    }
    const uint64_t rawCap =
        uint64_t{h.frames} * kMaxStepBytes + uint64_t{ReplayCheckCount(h.frames)} * 4;
    if (rawSize > rawCap || packedSize != r.left()) {
        error = "damaged (inconsistent sizes)";
        return false;
    }
    packed = r.Rest();
    return true;
}

}  // namespace

bool DecodeReplayHeader(std::string_view bytes, ReplayHeader& out, std::string& error) {
    uint32_t rawSize = 0;
    std::string_view packed;
    return DecodeHeaderPart(bytes, out, rawSize, packed, error);
}

bool DecodeReplay(std::string_view bytes, Replay& out, std::string& error) {
    out = Replay{};
    uint32_t rawSize = 0;
    std::string_view packed;
    if (!DecodeHeaderPart(bytes, out.header, rawSize, packed, error)) return false;
    std::string raw;
    if (!media::UnpackBytes(packed, rawSize, raw)) {
        error = "damaged (packed data)";
        return false;
    }
    return DecodeStream(raw, out, error);
}

bool ReadReplayFile(const std::string& path, Replay& out, std::string& error) {
    std::string bytes;
    const media::AssetRead read = media::ReadAssetFile(path, kReplayMaxFileBytes, bytes, error);
    if (read == media::AssetRead::kMissing) error = "no such file";
    if (read != media::AssetRead::kOk) return false;
    return DecodeReplay(bytes, out, error);
}

bool WriteReplayFile(const std::string& path, const Replay& replay) {
    const std::string bytes = EncodeReplay(replay);
    if (bytes.empty()) return false;
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(path);
    if (!out) return false;
    out->WriteBytes(bytes.data(), bytes.size());
    return media::CloseFile(out);
}

}  // namespace game
