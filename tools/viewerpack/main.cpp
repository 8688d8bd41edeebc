// zq_viewerpack: writes the browser viewer's data pack (viewer/data_pack.h) from
// the runnable folder's Files/: the images and sounds of Common/ and the game
// folder, each image's pixel size, and the glyphs of every font face the
// viewer opens, rendered here with the native font renderer.
// Usage: zq_viewerpack FILES_DIR OUT_FILE
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/graphics_setup.h"
#include "engine/identity.h"
#include "engine/media/asset_read.h"
#include "engine/media/audio.h"
#include "engine/media/folders.h"
#include "engine/media/font_face.h"
#include "engine/media/graphics.h"
#include "engine/media/pixmap.h"
#include "engine/media/recording_driver.h"
#include "engine/setup_table.h"
#include "viewer/data_pack.h"
#include "viewer/viewer_setup.h"

namespace {

namespace fs = std::filesystem;

// The kinds of game files the viewer takes.
const char* const kTakenExtensions[] = {".png", ".wav", ".ogg"};

// Returns the glyphs of one face, rendered natively; false when the font cannot be opened.
bool Bake(const std::string& path, int size, media::BakedFace& out) {
    media::FontFacePtr face;
    media::FaceMetrics metrics;
    std::string why;
    if (media::OpenFontFace(path, size, face, metrics, why) != media::AssetRead::kOk) {
        std::fprintf(stderr, "zq_viewerpack: cannot open %s at %d: %s\n", path.c_str(), size,
                     why.c_str());
        return false;
    }
    out.ascent = metrics.ascent;
    out.descent = metrics.descent;
    for (int code = 0; code < media::kBakedCodes; ++code) {
        media::BakedGlyph& g = out.glyphs[static_cast<size_t>(code)];
        g.index = media::FontFaceGlyphIndex(*face, code);
        if (g.index < 0) continue;
        media::FaceGlyph bm;
        g.rendered = media::RenderFontGlyph(*face, code, bm);
        if (!g.rendered) continue;
        g.advance = bm.advance;
        g.left = bm.left;
        g.top = bm.top;
        const bool bits = bm.bits && bm.width > 0 && bm.rows > 0 && bm.pitch >= bm.width;
        g.width = bits ? bm.width : 0;
        g.rows = bits ? bm.rows : 0;
        for (int row = 0; row < g.rows; ++row) {
            const uint8_t* src = bm.bits + static_cast<size_t>(row) * bm.pitch;
            g.bits.insert(g.bits.end(), src, src + g.width);
        }
    }
    return true;
}

// Returns the faces the viewer opens: (file, size) of every loaded font.
std::set<std::pair<std::string, int>> OpenedFaces() {
    std::set<std::pair<std::string, int>> faces;
    auto take = [&faces](const auto& fonts) {
        for (const auto& font : fonts) {
            if (font) faces.insert({font->Path(), font->Size()});
        }
    };
    take(engine::UIFonts);
    take(engine::FontGrid);
    return faces;
}

// Reads a whole file; false when it cannot.
bool ReadWhole(const fs::path& path, std::string& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zq_viewerpack FILES_DIR OUT_FILE\n");
        return 2;
    }
    const fs::path files = fs::absolute(argv[1]);
    std::vector<viewer::PackEntry> entries;

    // The game files, in a fixed order so that the same files give the same pack.
    for (const std::string& folder : std::vector<std::string>{"Common", engine::GameFolder()}) {
        std::vector<fs::path> paths;
        for (const auto& item : fs::directory_iterator(files / folder)) {
            const std::string ext = item.path().extension().string();
            if (item.is_regular_file() &&
                std::find(std::begin(kTakenExtensions), std::end(kTakenExtensions), ext) !=
                    std::end(kTakenExtensions)) {
                paths.push_back(item.path());
            }
        }
        std::sort(paths.begin(), paths.end());
        for (const fs::path& path : paths) {
            viewer::PackEntry e;
            e.name = folder + "/" + path.filename().string();
            if (!ReadWhole(path, e.bytes)) {
                std::fprintf(stderr, "zq_viewerpack: cannot read %s\n", path.c_str());
                return 1;
            }
            if (path.extension() == ".png") {
                const auto pixmap = media::LoadPixmap(path.string());
                if (!pixmap) return 1;
                e.a = static_cast<uint32_t>(pixmap->width);
                e.b = static_cast<uint32_t>(pixmap->height);
            }
            entries.push_back(std::move(e));
        }
    }

    // The faces: load what the viewer loads, then render each face it opened. The Ogg Vorbis
    // sounds cannot be decoded here (no desktop part) and need not be: their lines are dropped.
    media::SetLoadFailureSink([](std::string_view line) {
        if (line.find("Could not load sound") == std::string_view::npos) {
            std::fprintf(stderr, "zq_viewerpack: %.*s\n", static_cast<int>(line.size()),
                         line.data());
        }
    });
    media::SetAudioDriver("Null");
    media::UseRecordingDriver();
    media::OpenGraphics(viewer::kViewerScreenWidth, viewer::kViewerScreenHeight);
    engine::SetupDefaults();
    media::ChangeDir((files / engine::GameFolder()).string());
    viewer::LoadViewerAssets();
    media::ChangeDir((files / "Common").string());
    for (const auto& [path, size] : OpenedFaces()) {
        media::BakedFace face;
        if (!Bake(path, size, face)) return 1;
        const std::string bytes = viewer::WriteBakedFace(face);
        viewer::PackEntry e;
        e.name = std::string(viewer::kFacePrefix) + media::BakedFaceKey(path, size);
        e.a = static_cast<uint32_t>(bytes.size());
        e.bytes = media::PackBytes(bytes);
        entries.push_back(std::move(e));
    }

    const std::string pack = viewer::WritePack(entries);
    const std::string temp = std::string(argv[2]) + ".part";
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (!out || std::fwrite(pack.data(), 1, pack.size(), out) != pack.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "zq_viewerpack: cannot write %s\n", argv[2]);
        return 1;
    }
    std::error_code ec;
    fs::rename(temp, argv[2], ec);
    if (ec) {
        std::fprintf(stderr, "zq_viewerpack: cannot write %s: %s\n", argv[2], ec.message().c_str());
        return 1;
    }
    std::printf("zq_viewerpack: %zu entries, %zu bytes\n", entries.size(), pack.size());
    return 0;
}
