// The bundled demo clips: small generated videos of both formats, with and without alpha, that
// the default run folder plays. Integer-only drawing, so every machine builds the same bytes.
#pragma once
#include <string>
#include <vector>

#include "tools/clip/LosslessEncoder.h"

namespace clipwriter {

struct DemoClip {
    std::string name;   // file name in videos/, e.g. "plasma.q18"
    SourceClip (*draw)();
};

const std::vector<DemoClip>& demoClips();

// The default data/playlists.xml listing the demo clips.
std::string demoPlaylistsXml();

}  // namespace clipwriter
