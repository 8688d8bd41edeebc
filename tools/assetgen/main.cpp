// Entry of the asset generator zq_assetgen. Each run makes one group of files, so the build
// can run the groups side by side:
//   zq_assetgen images FILES_DIR   the PNG images into FILES_DIR/Common and FILES_DIR/274
//   zq_assetgen sounds FILES_DIR   the numbered effects and the start-up jingle
//   zq_assetgen music FILES_DIR    the music track
//   zq_assetgen sheet OUT.png      every image on one contact sheet, over dark blue
//   zq_assetgen icons DIR NAME     the icon as DIR/SxS/apps/NAME.png for the desktop's sizes
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/assetgen/assetgen.h"

namespace {

constexpr int kSheetWidth = 2100;
constexpr int kGap = 12;
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

// Writes every image of a list; returns false (after reporting) when one fails.
bool WriteImages(const std::vector<assetgen::NamedImage>& images, const std::string& files_dir) {
    bool ok = true;
    for (const auto& im : images) {
        std::string path = files_dir + "/" + im.folder + "/" + im.name;
        if (!assetgen::WritePng(path, im.canvas)) {
            std::fprintf(stderr, "zq_assetgen: cannot write %s\n", path.c_str());
            ok = false;
        }
    }
    return ok;
}

// Lays all images out in rows on a dark blue sheet, so masked parts show as background.
bool WriteSheet(const std::string& out) {
    std::vector<assetgen::NamedImage> images = assetgen::MakeCommonImages();
    for (auto& im : assetgen::MakeGameImages()) images.push_back(std::move(im));
    int x = kGap, y = kGap, row_h = 0, height = kGap;
    std::vector<std::pair<int, int>> at;
    for (const auto& im : images) {
        int w = im.canvas.Width(), h = im.canvas.Height();
        if (x + w + kGap > kSheetWidth) {
            x = kGap;
            y += row_h + kGap;
            row_h = 0;
        }
        at.emplace_back(x, y);
        x += w + kGap;
        row_h = std::max(row_h, h);
        height = y + row_h + kGap;
    }
    assetgen::Canvas sheet(kSheetWidth, height);
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < kSheetWidth; ++i) sheet.Set(i, j, {0.05f, 0.06f, 0.16f});
    for (size_t k = 0; k < images.size(); ++k)
        sheet.Blit(images[k].canvas, at[k].first, at[k].second);
    return assetgen::WritePng(out, sheet);
}

// Writes the icon at every size into the icon theme layout below dir.
bool WriteIcons(const std::string& dir, const std::string& name) {
    for (int size : kIconSizes) {
        std::string folder =
            dir + "/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        std::string path = folder + "/" + name + ".png";
        if (ec || !assetgen::WritePng(path, assetgen::MakeIcon(size))) {
            std::fprintf(stderr, "zq_assetgen: cannot write %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

// Runs one generation group named on the command line; exit status 0 on success.
int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (argc != (mode == "icons" ? 4 : 3)) {
        std::fprintf(stderr,
                     "usage: zq_assetgen images|sounds|music|sheet PATH\n"
                     "       zq_assetgen icons DIR NAME\n");
        return 2;
    }
    std::string path = argv[2];
    bool ok = false;
    if (mode == "icons") {
        ok = WriteIcons(path, argv[3]);
    } else if (mode == "images") {
        ok = WriteImages(assetgen::MakeCommonImages(), path) &&
             WriteImages(assetgen::MakeGameImages(), path);
    } else if (mode == "sounds") {
        ok = assetgen::WriteSounds(path + "/Common", path + "/274");
    } else if (mode == "music") {
        ok = assetgen::WriteMusic(path + "/274");
    } else if (mode == "sheet") {
        ok = WriteSheet(path);
    } else {
        std::fprintf(stderr, "zq_assetgen: unknown group %s\n", mode.c_str());
        return 2;
    }
    if (!ok) std::fprintf(stderr, "zq_assetgen: %s failed\n", mode.c_str());
    return ok ? 0 : 1;
}
