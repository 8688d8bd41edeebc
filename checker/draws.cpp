// The draw-list mode; see draws.h.
#include "checker/draws.h"

#include <cinttypes>
#include <cstdio>
#include <memory>

#include "engine/media/asset_read.h"
#include "engine/media/audio.h"
#include "engine/media/graphics.h"
#include "engine/media/recording_driver.h"
#include "game/replay.h"
#include "game/replay_file.h"
#include "viewer/viewer_setup.h"

#ifdef __EMSCRIPTEN__
#include "engine/media/browser/decoded_images.h"
#include "viewer/data_pack.h"
#endif

namespace checker {

namespace {

constexpr const char* kKindNames[] = {"image", "rect", "line", "plot", "oval", "text", "cls"};

// Returns one record as a line: every float in exact hexadecimal form.
std::string RecordLine(const media::DrawRecord& r) {
    const media::TDraw2DGraphics& g = r.state;
    std::string font = "-";
    if (g.image_font) font = g.image_font->Path() + "@" + std::to_string(g.image_font->Size());
    char line[1024];
    std::snprintf(line, sizeof line,
                  "%s xy=%a,%a wh=%a,%a frame=%d rgb=%d,%d,%d alpha=%a blend=%d rot=%a "
                  "scale=%a,%a handle=%a,%a ihandle=%a,%a width=%a font=%s",
                  kKindNames[static_cast<int>(r.kind)], r.x, r.y, r.w, r.h, r.frame, g.color_red,
                  g.color_green, g.color_blue, g.color_alpha, g.blend_mode, g.tform_rot,
                  g.tform_scale_x, g.tform_scale_y, g.handle_x, g.handle_y, r.image_handle_x,
                  r.image_handle_y, g.line_width, font.c_str());
    std::string out = line;
    if (r.kind == media::DrawKind::Image && r.image) {
        out += " image=" + std::to_string(r.image->width) + "x" + std::to_string(r.image->height) +
               "/" + std::to_string(r.image->frames.size());
    }
    if (r.kind == media::DrawKind::Text) out += " text=\"" + r.text + "\"";
    return out + "\n";
}

// Hands the pack's glyphs and image sizes to the browser build's media layer (images as blank
// pictures: a draw list names sizes and places, not pixels); false with a line on error.
bool UsePack(const DrawsSource& source) {
#ifdef __EMSCRIPTEN__
    std::FILE* f = std::fopen(source.packFile.c_str(), "rb");
    std::string bytes;
    if (f) {
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
        std::fclose(f);
    }
    std::vector<viewer::PackEntry> entries;
    std::string why;
    if (!f || !viewer::ReadPack(bytes, entries, why)) {
        std::fprintf(stderr, "zq_replay_checks: cannot use %s: %s\n", source.packFile.c_str(),
                     f ? why.c_str() : "cannot read it");
        return false;
    }
    for (const viewer::PackEntry& e : entries) {
        if (e.name.compare(0, viewer::kFacePrefix.size(), viewer::kFacePrefix) == 0) {
            media::BakedFace face;
            if (!viewer::ReadBakedFace(e.bytes, e.a, face, why)) {
                std::fprintf(stderr, "zq_replay_checks: %s: %s\n", e.name.c_str(), why.c_str());
                return false;
            }
            media::AddBakedFace(e.name.substr(viewer::kFacePrefix.size()), std::move(face));
        } else if (e.name.size() > 4 && e.name.compare(e.name.size() - 4, 4, ".png") == 0) {
            const std::vector<uint8_t> blank(static_cast<size_t>(e.a) * e.b * 4);
            media::AddDecodedImage(source.filesDir + "/" + e.name, static_cast<int>(e.a),
                                   static_cast<int>(e.b), blank.data());
        }
    }
    return true;
#else
    return source.packFile.empty();
#endif
}

}  // namespace

int PrintDraws(const DrawsSource& source, const std::vector<uint32_t>& steps,
               const std::string& replayFile) {
    game::Replay replay;
    std::string error;
    if (!game::ReadReplayFile(replayFile, replay, error)) {
        std::fprintf(stderr, "zq_replay_checks: cannot read %s: %s\n", replayFile.c_str(),
                     error.c_str());
        return 2;
    }
    if (!UsePack(source)) return 2;
    // Neither build decodes Ogg Vorbis here, and sound is no part of a draw list.
    media::SetLoadFailureSink([](std::string_view line) {
        if (line.find("Could not load sound") == std::string_view::npos) {
            std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
        }
    });
    media::SetAudioDriver("Null");
    std::shared_ptr<media::TRecordingDriver> driver = media::UseRecordingDriver();
    media::OpenGraphics(viewer::kViewerScreenWidth, viewer::kViewerScreenHeight);
    if (!viewer::LoadViewerGame(source.filesDir)) {
        std::fprintf(stderr, "zq_replay_checks: no game folder in %s\n", source.filesDir.c_str());
        return 2;
    }
    game::ReplayPlayback playback;
    if (!playback.Start(replay)) {
        std::fprintf(stderr, "zq_replay_checks: %s cannot be played\n", replayFile.c_str());
        return 2;
    }
    size_t next = 0;
    driver->Clear();
    while (next < steps.size() && playback.Step()) {
        if (playback.StepsDone() == steps[next]) {
            std::printf("step %" PRIu32 " draws=%zu\n", steps[next], driver->records.size());
            for (const media::DrawRecord& r : driver->records) {
                std::fputs(RecordLine(r).c_str(), stdout);
            }
            ++next;
        }
        driver->Clear();
    }
    return 0;
}

}  // namespace checker
