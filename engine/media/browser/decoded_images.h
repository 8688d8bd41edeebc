// Pictures the page decoded for the browser build, which carries no PNG codec:
// the page turns each image file into RGBA pixels and hands them over under
// the file's path; loading that path then finds them.
#pragma once

#include <cstdint>
#include <string>

namespace media {

// Keeps a width × height RGBA picture (rows top to bottom) as the image file at path (a path
// relative to the current folder is made absolute); false when the size is not a usable pixmap.
bool AddDecodedImage(const std::string& path, int width, int height, const uint8_t* rgba);
// Forgets every picture handed over.
void ClearDecodedImages();

}  // namespace media
