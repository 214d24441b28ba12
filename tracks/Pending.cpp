// Placeholders until the clip loader and decoders land; this file is deleted then.
#include "tracks/Track.h"

Track tracks[TrackSlots];

int32_t Track::probe(const std::string&) { return 0; }
void Track::assign(const std::string& workingDir, const std::string& fileName) {
    name = fileName;
    path = workingDir + "/videos/" + fileName;
}
int Track::loadStep(int) { return 0; }
void Track::decodeFrame(int, int, int) {}
void Track::invalidate() {}
void Track::releaseBuffers() { allocated = 0; }
void Track::clear() { releaseBuffers(); ready = 0; name.clear(); path.clear(); }
