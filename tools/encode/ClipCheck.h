// The last step of every encode: the clip file is loaded with the program's own track loader and
// every frame decoded, so that a clip the instrument would refuse or show differently is never
// put in place.
#pragma once
#include <cstdint>
#include <string>

#include "tools/encode/ClipEncoder.h"

namespace encode {

// Loads path into a track slot and decodes every frame; each must equal what the encoder meant.
// squaredError receives the error of the decoded colours against source (for the PSNR).
bool checkClip(const std::string& path, const EncodedClip& meant, const InputClip& source,
               uint64_t& squaredError, std::string& error);

// Loads a clip and gives its decoded frames, one after another, 76,800 RGB565 pixels each; the
// decode time per frame from RAM goes to secondsPerFrame and the time of copying one frame with
// memcpy to copySeconds. Both are CPU time (another program's load does not count), each the
// best of several rounds that together last about minSeconds. Returns false with a reason when
// the loader refuses it.
bool decodeClip(const std::string& path, std::string& frames, double minSeconds,
                double& secondsPerFrame, double& copySeconds, std::string& error);

}  // namespace encode
