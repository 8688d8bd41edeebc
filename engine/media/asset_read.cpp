// Whole-file reads of outside files through the capped stream, and the
// load-failure sink.
#include "engine/media/asset_read.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "engine/media/files.h"

namespace media {

namespace {

constexpr size_t kReadChunk = 65536;

LoadFailureSink& Sink() {
    static LoadFailureSink sink;
    return sink;
}

}  // namespace

AssetRead ReadAssetFile(const std::string& path, size_t max_bytes, std::string& out,
                        std::string& why) {
    out.clear();
    why.clear();
    const int64_t cap =
        max_bytes > static_cast<size_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(max_bytes);
    OpenResult result;
    std::unique_ptr<TStream> file = OpenDataFile(path, cap, result, &why);
    if (!file) return result == OpenResult::kAbsent ? AssetRead::kMissing : AssetRead::kRefused;
    for (size_t got = 0;; got += kReadChunk) {
        out.resize(got + kReadChunk);
        const size_t n = file->ReadBytes(out.data() + got, kReadChunk);
        if (n < kReadChunk) {
            out.resize(got + n);
            break;
        }
    }
    if (file->ReadFailed()) {
        why = file->ReadProblem();
        out.clear();
        return AssetRead::kRefused;
    }
    return AssetRead::kOk;
}

void SetLoadFailureSink(LoadFailureSink sink) {
    Sink() = std::move(sink);
}

void ReportLoadFailure(std::string_view kind, const std::string& path, std::string_view why) {
    std::string line = "\tCould not load ";
    line.append(kind).append(" \"").append(path).append("\": ").append(why);
    ReportMediaLine(line);
}

void ReportMediaLine(const std::string& line) {
    if (Sink()) {
        Sink()(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str() + (line.empty() ? 0 : 1));
    }
}

}  // namespace media
