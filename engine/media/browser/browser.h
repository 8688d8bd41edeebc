// The browser part of the media layer (WebAssembly): WebGL drawing on the
// page's canvas and sound through Web Audio. The viewer program calls
// InstallBrowserMedia() once at start-up, as the desktop game installs its
// desktop part; until then the media layer runs headless.
#pragma once

namespace media {

// Installs the browser drivers behind the media layer's seams: the WebGL drawing driver as the
// default, the "WebAudio" audio driver (usable once the page made an audio context), and Ogg
// Vorbis sounds left to the page to decode. Later calls do nothing.
void InstallBrowserMedia();

}  // namespace media
