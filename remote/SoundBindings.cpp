#include "remote/SoundBindings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool wholeNumber(const std::string& word, int32_t& out) {
    if (word.empty() || word.size() > 3) return false;
    for (char c : word)
        if (c < '0' || c > '9') return false;
    out = int32_t(std::atoi(word.c_str()));
    return out <= 127;
}

}  // namespace

bool parseSoundBinding(const std::string& line, SoundBinding& out) {
    if (line.size() > 80) return false;
    for (char c : line)
        if (uint8_t(c) < 32 || c == '<' || c == '>' || c == '&') return false;
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        const size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    if (words.size() < 2) return false;
    static const char* const sources[] = {"kick", "low", "mid", "high"};
    SoundBinding b;
    int source = -1;
    for (int i = 0; i < 4; i++)
        if (words[0] == sources[i]) source = i;
    if (source < 0) return false;
    b.source = SoundSource(source);
    size_t last = words.size();
    int32_t from, to;
    if (words.size() >= 4 && wholeNumber(words[last - 2], from) && wholeNumber(words[last - 1], to)) {
        b.from = from;
        b.to = to;
        last -= 2;
    }
    std::string target;
    for (size_t i = 1; i < last; i++) target += (i > 1 ? " " : "") + words[i];
    if (target.empty() || target.size() > size_t(MaxMidiTargetChars)) return false;
    std::snprintf(b.target, sizeof b.target, "%s", target.c_str());
    out = b;
    return true;
}

int32_t soundBindingValue(const SoundBinding& b, float level) {
    const float l = std::isfinite(level) ? std::clamp(level, 0.0f, 1.0f) : 0.0f;
    return int32_t(std::lround(b.from + l * float(b.to - b.from)));
}
