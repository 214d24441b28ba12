#include "live/Sampler.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/MainLoop.h"
#include "core/AppState.h"
#include "core/FrameBuffers.h"
#include "core/Notice.h"
#include "library/Mix.h"
#include "library/SafeSave.h"
#include "live/LiveSource.h"
#include "mixer/Decks.h"
#include "tempo/TempoClock.h"
#include "tools/encode/ClipEncoder.h"
#include "tracks/Track.h"

Sampler sampler;
const char* const SampledPlaylist = "Sampled";

const uint16_t* SampledClip::picture(int position) const {
    if (position < 0 || position >= count) position = 0;
    return frames->data() + size_t(position) * FramePixels;
}

void SampledClip::drawFrame(int position, uint16_t* frame) {
    std::memcpy(frame, picture(position), FrameBytes);
    if (firstDrawnUs == 0) {
        firstDrawnUs = liveClockUs();
        firstDrawnFrame = framesRun;
    }
}

namespace {

// 1, 2, 4, 8 or 16: the largest not above beats (at least 1).
int32_t roundedBeats(int32_t beats) {
    int32_t b = 16;
    while (b > 1 && b > beats) b /= 2;
    return b;
}

// A tempo the performer gives now: taps or a MIDI clock. A tempo set without a phase (the one the
// settings keep, an OSC setting) has no beat worth cutting a take on.
bool hasTempo() { return tempoClock.source == TempoTaps || tempoClock.source == TempoMidiClock; }

}  // namespace

void Sampler::reset() {
    finishSaves();
    for (Take& t : takes) t = Take();
    lastEndUs = lastSavedUs = 0;
    lastSlot = -1;
    lastFrames = 0;
    lastFile.clear();
    lastClip = nullptr;
}

void Sampler::press(int deck, uint32_t nowMs) {
    if (deck < 0 || deck > 1 || takes[deck].state != Idle) return;
    const int32_t slot = decks.decks[deck].track;
    LiveSource* source = slot >= 0 && slot < TrackSlots ? dynamic_cast<LiveSource*>(tracks[slot].source) : nullptr;
    char text[NoticeChars];
    if (!source) {
        std::snprintf(text, sizeof text, "sampling: deck %d shows no live source", deck);
        postNotice(text);
        return;
    }
    if (mix.loading) {
        postNotice("sampling: wait until the playlist is loaded");
        return;
    }
    Take& t = takes[deck];
    t = Take();
    t.held = true;
    t.pressMs = nowMs;
    t.source = source;
    t.slot = slot;
    t.frames = std::make_shared<std::vector<uint16_t>>();
    t.frames->reserve(size_t(MaxSampleFrames) * FramePixels);  // no page is touched before it is used
    t.timed = hasTempo();
    if (t.timed) {
        t.startBeat = std::floor(tempoClock.beatAt(nowMs)) + 1;
        t.state = Waiting;
    } else {
        t.startMs = nowMs;
        t.state = Recording;
    }
    std::cout << "sampling deck " << deck << " from " << source->name() << std::endl;
}

void Sampler::release(int deck, uint32_t nowMs) {
    if (deck < 0 || deck > 1) return;
    Take& t = takes[deck];
    if (t.state == Idle || !t.held) return;
    t.held = false;
    if (t.timed) {
        if (t.state == Waiting || t.beatsDone == 0) t.targetBeats = BeatsPerBar;  // a short press: one bar
        else finish(deck, t.marks[roundedBeats(t.beatsDone)]);
    } else if (nowMs - t.pressMs < ShortPressMs) {
        t.untilMs = t.startMs + UntimedShortTakeMs;
    } else {
        finish(deck, t.count);
    }
}

void Sampler::step(uint32_t nowMs) {
    for (int deck = 0; deck < 2; deck++) {
        Take& t = takes[deck];
        if (t.state == Idle) continue;
        if (t.slot < 0 || t.slot >= TrackSlots || tracks[t.slot].source != t.source) {
            t = Take();
            postNotice("sampling stopped: the live source was closed");
            continue;
        }
        if (t.state == Waiting) {
            if (tempoClock.beatAt(nowMs) < t.startBeat) continue;
            t.state = Recording;
            t.startMs = nowMs;
        }
        if (t.timed) {
            const double beats = tempoClock.beatAt(nowMs) - t.startBeat;
            while (t.beatsDone < 16 && t.beatsDone + 1 <= beats) t.marks[++t.beatsDone] = t.count;
            if (t.targetBeats > 0 && t.beatsDone >= t.targetBeats) {
                finish(deck, t.marks[t.targetBeats]);
                continue;
            }
            if (t.beatsDone == 16) {
                finish(deck, t.marks[16]);
                continue;
            }
        } else if (!t.held && t.untilMs != 0 && int32_t(nowMs - t.untilMs) >= 0) {
            finish(deck, t.count);
            continue;
        }
        if (t.count == 0) t.startFrame = framesRun;
        const uint16_t* picture = t.source->shownPicture();
        t.frames->insert(t.frames->end(), picture, picture + FramePixels);
        t.count++;
        if (t.count < MaxSampleFrames) continue;
        // Full: the most whole beats (1, 2, 4, 8 or 16) taken so far, or everything without a tempo.
        int32_t length = t.count;
        if (t.timed && t.beatsDone > 0) {
            int32_t b = roundedBeats(t.beatsDone);
            if (t.targetBeats > 0 && b > t.targetBeats) b = t.targetBeats;
            length = t.marks[b];
        }
        finish(deck, length);
    }
}

void Sampler::finish(int deck, int32_t frames) {
    Take t = takes[deck];
    takes[deck] = Take();
    if (frames <= 0) {
        postNotice("sampling: nothing was sampled");
        return;
    }
    const int32_t slot = mix._totalTracks;
    if (mix.loading || slot >= TrackSlots) {
        postNotice(mix.loading ? "sampling: a playlist is loading, the take is dropped"
                               : "sampling: every track slot is taken, the take is dropped");
        return;
    }
    t.frames->resize(size_t(frames) * FramePixels);
    SampleFrames shared = t.frames;
    SampledClip* clip = new SampledClip(shared, frames);
    char base[64];
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    std::snprintf(base, sizeof base, "%04d%02d%02d-%02d%02d%02d-%d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ++taken);
    tracks[slot].holdSource(clip, std::string("sampled/") + base + ".q18");
    mix._totalTracks = slot + 1;
    decks.trackCount = mix._totalTracks;
    Deck& d = decks.decks[deck];
    d.track = slot;
    d.position = 0;
    lastEndUs = liveClockUs();
    lastStartFrame = t.startFrame;
    lastEndFrame = framesRun;
    lastSavedUs = 0;
    lastSlot = slot;
    lastFrames = frames;
    lastFile.clear();
    lastClip = clip;
    std::cout << "sampled " << frames << " frames on deck " << deck << " into slot " << slot << std::endl;
    save(shared, frames, clip, base);
}

void Sampler::save(SampleFrames frames, int32_t count, SampledClip* clip, const std::string& base) {
    std::unique_ptr<Save> job(new Save);
    job->clip = clip;
    Save* s = job.get();
    const std::string folder = appState.workingDir + "/videos/sampled";
    s->thread = std::thread([s, frames, count, folder, base] {
        s->file = writeSampledClip(*frames, count, folder, base, s->error);
        s->ok = !s->file.empty();
        s->doneUs = liveClockUs();
        s->done = true;
    });
    saves.push_back(std::move(job));
}

void Sampler::pollSaves() {
    for (size_t i = 0; i < saves.size();) {
        Save& s = *saves[i];
        // The playlists file is not written under the editor's unsaved edits: the entry waits.
        if (!s.done || (s.ok && appState.screen == Screen::Editor)) {
            i++;
            continue;
        }
        if (s.thread.joinable()) s.thread.join();
        if (s.ok) {
            const std::string entry = "sampled/" + s.file;
            std::cout << "sampled clip saved: videos/" << entry << std::endl;
            for (Track& t : tracks)
                if (t.source == s.clip) t.name = entry;
            if (s.clip == lastClip) {
                lastFile = entry;
                lastSavedUs = s.doneUs;
            }
            mix.appendAndSave(SampledPlaylist, entry);
        } else {
            std::cout << "sampled clip not saved: " << s.error << std::endl;
            postNotice(("sampling: clip not saved: " + s.error).c_str());
        }
        saves.erase(saves.begin() + long(i));
    }
}

void Sampler::finishSaves() {
    for (std::unique_ptr<Save>& s : saves)
        if (s->thread.joinable()) s->thread.join();
    const int32_t screen = appState.screen;
    appState.screen = Screen::Mix;  // at the end of a run every saved take is listed
    pollSaves();
    appState.screen = screen;
}

std::string writeSampledClip(const std::vector<uint16_t>& frames, int32_t count, const std::string& folder,
                             const std::string& base, std::string& why) {
    const size_t cut = folder.rfind('/');
    if (cut != std::string::npos) mkdir(folder.substr(0, cut).c_str(), 0777);
    mkdir(folder.c_str(), 0777);
    encode::InputClip input;
    input.frames.resize(size_t(count));
    for (int32_t f = 0; f < count; f++) {
        const uint16_t* p = frames.data() + size_t(f) * FramePixels;
        input.frames[size_t(f)].colour.assign(p, p + FramePixels);
    }
    encode::EncodeParams params;
    params.format = 18;
    params.quality = SampleQuality;
    encode::EncodedClip clip;
    encode::encodeFrames(input, params, clip, [](int, int) {});
    std::string problem;
    const std::vector<uint8_t> bytes = clip.clip.serialise(&problem);
    if (bytes.empty()) {
        why = "the clip could not be put together (" + problem + ")";
        return "";
    }
    const std::string part = folder + "/." + base + ".part";
    FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) {
        why = saveFailureReason(errno);
        return "";
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    written = written && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    const int error = errno;
    written = std::fclose(f) == 0 && written;
    if (!written) {
        why = saveFailureReason(error ? error : errno);
        unlink(part.c_str());
        return "";
    }
    // A hard link never replaces a file: the first free name is taken.
    for (int n = 1; n < 1000; n++) {
        const std::string name = base + (n > 1 ? "-" + std::to_string(n) : "") + ".q18";
        if (link(part.c_str(), (folder + "/" + name).c_str()) == 0) {
            unlink(part.c_str());
            return name;
        }
        if (errno == EEXIST) continue;
        // A disk without hard links: renamed, after checking that the name is free.
        if (access((folder + "/" + name).c_str(), F_OK) == 0) continue;
        if (std::rename(part.c_str(), (folder + "/" + name).c_str()) == 0) return name;
        why = saveFailureReason(errno);
        unlink(part.c_str());
        return "";
    }
    unlink(part.c_str());
    why = "no free name for " + base;
    return "";
}
