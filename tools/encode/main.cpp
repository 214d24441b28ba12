// loopmixer-encode: turns videos, animated pictures and PNG sequences into clips the instrument
// plays (Format18 ".q18" by default, Format17 ".q17" on request).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/RunFolder.h"
#include "core/Version.h"
#include "library/StoredNames.h"
#include "tools/encode/ClipCheck.h"
#include "tools/encode/ClipEncoder.h"
#include "tools/encode/Input.h"
#include "tools/encode/Picture.h"
#include "tools/encode/Playlist.h"
#include "tools/encode/Progress.h"
#include "tracks/Track.h"

using namespace encode;

namespace {

const int DefaultQuality = 75;

struct Options {
    std::vector<std::string> inputs;
    std::string output;    // file (one input) or folder
    std::string runDir;  // "": the instrument's own choice (see core/RunFolder.h)
    std::string playlist;
    int format = 0;        // 0: from the output name, else 18
    int quality = DefaultQuality;
    long long maxSize = 0;
    bool overwrite = false;
    InputSettings input;
};

// The clip being written, removed if the encoder is stopped before it is in place.
char temporaryPath[4096];

void removeTemporary(int sig) {
    if (temporaryPath[0]) unlink(temporaryPath);
    signal(sig, SIG_DFL);
    raise(sig);
}

void usage(FILE* to) {
    std::fprintf(to,
        "usage: loopmixer-encode [options] INPUT...\n"
        "INPUT is a video or animated picture, a folder of numbered PNG pictures, or a pattern\n"
        "such as shots/frame%%04d.png. Each input becomes one clip of at most 255 frames.\n"
        "  -o, --output PATH     clip file (one input) or folder (default: videos/ of the run folder)\n"
        "  --run-dir DIR         the instrument's run folder (default: the current folder when\n"
        "                        it holds data/, else the user's, ~/.local/share/loopmixer)\n"
        "  --format 17|18        clip format (default 18, or the output name's extension)\n"
        "  --quality 1..100      picture quality (default %d): bytes weigh less against error\n"
        "                        as it rises; every block keeps a PSNR of at least\n"
        "                        30 + 0.4 x (quality - 50) dB from 60 up, 6 dB less up to 40;\n"
        "                        100 keeps every RGB565 pixel exact\n"
        "  --max-size BYTES      the best quality whose clip fits in BYTES\n"
        "  --fit crop|letterbox|stretch   how the picture fills 320x240 (default crop)\n"
        "  --rate FPS            frames per second of the clip (default 25)\n"
        "  --start SECONDS       skip the beginning of the input\n"
        "  --duration SECONDS    keep this much of the input\n"
        "  --frames N            keep N frames (at most 255)\n"
        "  --input-rate FPS      frames per second of a PNG sequence (default 25)\n"
        "  --dither              ordered dithering when quantising to RGB565\n"
        "  --playlist NAME       add the clips to playlist NAME in data/playlists.xml\n"
        "  -y, --overwrite       replace clips that exist already (otherwise they are kept and\n"
        "                        nothing is encoded)\n"
        "Measuring (used by bench/encode_bench.sh):\n"
        "  --decode CLIP RAW     decode a clip to raw RGB565 frames; prints the decode time per\n"
        "                        frame from RAM and the time of one frame's memcpy, in ms\n"
        "  --psnr REF.rgb24 TEST.rgb565|TEST.rgb24   PSNR of raw frames as a 565 screen shows them\n"
        "                        (RGB565 widened; RGB24 at the nearest 565 level) against RGB24 ones\n",
        DefaultQuality);
}


std::string baseName(const std::string& input) {
    std::string s = input;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    size_t slash = s.rfind('/');
    std::string name = slash == std::string::npos ? s : s.substr(slash + 1);
    size_t pct = name.find('%');
    if (pct != std::string::npos) {
        name = name.substr(0, pct);
        while (!name.empty() && !isalnum((unsigned char)name.back())) name.pop_back();
        if (name.empty() && slash != std::string::npos) return baseName(s.substr(0, slash));
    } else {
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
    }
    // The playlists file stores names as they are, between tags: a '<' or '>' (or a control
    // character) in a clip's name would break the file for the instrument's reader.
    for (char& c : name)
        if (c == '<' || c == '>' || (unsigned char)c < 32) c = '_';
    return name.empty() ? "clip" : name;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeFolders(const std::string& path) {
    std::string part;
    for (size_t i = 0; i <= path.size(); i++) {
        if (i == path.size() || path[i] == '/') {
            if (!part.empty() && !isFolder(part) && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
        }
        if (i < path.size()) part += path[i];
    }
    return true;
}

std::string absolutePath(const std::string& p) {
    char buf[4096];
    if (realpath(p.c_str(), buf)) return buf;
    return p;
}

bool isFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// " (used by playlists "A", "B")" for the playlists of the run folder that play the clip at
// absolute path clip, or "".
std::string playlistsUsing(const std::string& clip, const std::string& videosAbsolute, const std::string& runDir) {
    if (clip.compare(0, videosAbsolute.size() + 1, videosAbsolute + "/") != 0) return "";
    const std::string entry = clip.substr(videosAbsolute.size() + 1);
    std::ifstream in(runDir + "/data/playlists.xml", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<PlaylistEntry> playlists;
    if (!parsePlaylists(text, playlists)) return "";
    std::string names;
    int count = 0;
    for (const PlaylistEntry& p : playlists) {
        if (std::find(p.tracks.begin(), p.tracks.end(), entry) == p.tracks.end()) continue;
        names += (count++ ? ", \"" : "\"") + p.name + "\"";
    }
    if (count == 0) return "";
    return std::string(" (used by playlist") + (count > 1 ? "s " : " ") + names + ")";
}

struct Made {
    std::string path;
    size_t bytes = 0;
};

// Encodes one input into path; false with one line in error.
bool encodeOne(const std::string& inputPath, const std::string& path, int format, const Options& o,
               Progress& progress, Made& made, std::string& error) {
    auto started = std::chrono::steady_clock::now();
    InputClip input;
    progress.begin("reading");
    bool read = readInput(inputPath, o.input, input, [&](int d, int t) { progress.update(d, t); }, error);
    progress.end();
    if (!read) return false;

    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".part";
    std::snprintf(temporaryPath, sizeof temporaryPath, "%s", temporary.c_str());

    EncodeParams params;
    params.format = format;
    EncodedClip clip;
    std::vector<uint8_t> bytes;
    auto encodeAt = [&](int quality, EncodedClip& into, std::vector<uint8_t>& out) -> bool {
        params.quality = quality;
        progress.begin("encoding");
        encodeFrames(input, params, into, [&](int d, int t) { progress.update(d, t); });
        progress.end();
        std::string why;
        out = into.clip.serialise(&why);
        if (out.empty()) {
            error = "internal error: the clip could not be put together (" + why + ")";
            return false;
        }
        return true;
    };
    int quality = o.quality;
    if (o.maxSize > 0) {
        // The best quality whose clip fits, found by halving the range.
        int lo = 1, hi = 100, best = -1;
        size_t smallest = SIZE_MAX;
        while (lo <= hi) {
            int mid = (lo + hi) / 2;
            if (!encodeAt(mid, clip, bytes)) return false;
            smallest = std::min(smallest, bytes.size());
            if ((long long)bytes.size() <= o.maxSize) {
                best = mid;
                lo = mid + 1;
            } else {
                hi = mid - 1;
            }
        }
        if (best < 0) {
            error = inputPath + ": no clip fits in " + std::to_string(o.maxSize) + " bytes (the smallest is " +
                    std::to_string(smallest) + ")";
            return false;
        }
        quality = best;
        if (params.quality != best && !encodeAt(best, clip, bytes)) return false;
    } else {
        if (!encodeAt(quality, clip, bytes)) return false;
    }

    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        temporaryPath[0] = 0;
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    written &= std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    written &= std::fclose(f) == 0;
    if (!written) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        temporaryPath[0] = 0;
        return false;
    }
    uint64_t squaredError = 0;
    progress.begin("checking");
    bool checked = checkClip(temporary, clip, input, squaredError, error);
    progress.end();
    if (!checked || std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (checked) error = "cannot rename " + temporary + " to " + path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        temporaryPath[0] = 0;
        return false;
    }
    temporaryPath[0] = 0;

    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    int frames = int(input.frames.size());
    double psnr = psnrFromError(squaredError, uint64_t(frames) * Pixels);
    int64_t ram = Track::probeQuietly(path, nullptr);
    if (ram <= 0) ram = ramEstimate(clip.clip);
    std::printf("%s: %d frames%s, %zu bytes (%zu per frame), PSNR %.2f dB%s, %zu entries, RAM %.2f%%, %.1f s\n",
                path.c_str(), frames, clip.clip.hasAlpha ? " with alpha" : "", bytes.size(),
                bytes.size() / size_t(frames), psnr, psnr >= 99 ? " (exact)" : "", clip.clip.entries.size(),
                double(ram) / 250000.0, seconds);
    if (clip.heldBack > 0)
        std::printf("  %d changed blocks shown without an entry of their own to stay within %d entries\n",
                    clip.heldBack, MaxEntries);
    if (clip.mergedEntries > 0)
        std::printf("  %d entries merged into alike ones to stay within %d\n", clip.mergedEntries, MaxEntries);
    if (quality != o.quality) std::printf("  made at quality %d\n", quality);
    if (input.cut) {
        const double kept = MaxFrames / o.input.rate;
        if (input.droppedSeconds > 0)
            std::printf("  cut at %d frames (%.2f s): the last %.2f s of the input were dropped;", MaxFrames, kept,
                        input.droppedSeconds);
        else
            std::printf("  cut at %d frames (%.2f s): the rest of the input was dropped;", MaxFrames, kept);
        std::printf(" choose the part with --start SECONDS and --duration SECONDS\n");
    }
    if (input.alphaDropped)
        std::printf("  the input's alpha was dropped: this FFmpeg has no libvpx decoder to read it\n");
    std::fflush(stdout);
    made.path = path;
    made.bytes = bytes.size();
    return true;
}

bool readAll(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Test frames ending in .rgb24 (a peer's decoded output) are put on the 565 screen with the
// nearest level per channel; others are raw RGB565. Both are compared widened, as the screen
// shows them, against the 8-bit reference.
int psnrCommand(const std::string& refPath, const std::string& testPath) {
    std::string ref, test;
    if (!readAll(refPath, ref) || !readAll(testPath, test)) {
        std::fprintf(stderr, "cannot read %s or %s\n", refPath.c_str(), testPath.c_str());
        return 1;
    }
    const bool rgb = testPath.size() >= 6 && testPath.compare(testPath.size() - 6, 6, ".rgb24") == 0;
    const size_t testFrame = size_t(Pixels) * (rgb ? 3 : 2);
    size_t frames = std::min(ref.size() / (Pixels * 3), test.size() / testFrame);
    if (frames == 0) {
        std::fprintf(stderr, "no whole frames to compare\n");
        return 1;
    }
    std::vector<uint16_t> shown(Pixels);
    uint64_t error = 0;
    for (size_t f = 0; f < frames; f++) {
        const uint8_t* t = reinterpret_cast<const uint8_t*>(test.data()) + f * testFrame;
        for (int i = 0; i < Pixels; i++)
            shown[i] = rgb ? nearest565(t[3 * i], t[3 * i + 1], t[3 * i + 2]) : uint16_t(t[2 * i] | t[2 * i + 1] << 8);
        error += squaredErrorToRgb(shown.data(), reinterpret_cast<const uint8_t*>(ref.data()) + f * Pixels * 3, Pixels);
    }
    std::printf("%.2f\n", psnrFromError(error, frames * Pixels));
    return 0;
}

int decodeCommand(const std::string& clipPath, const std::string& rawPath) {
    std::string frames, error;
    double perFrame = 0, copy = 0;
    if (!decodeClip(clipPath, frames, 1.0, perFrame, copy, error)) {
        std::fprintf(stderr, "%s: %s\n", clipPath.c_str(), error.c_str());
        return 1;
    }
    std::ofstream out(rawPath, std::ios::binary);
    out.write(frames.data(), std::streamsize(frames.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", rawPath.c_str());
        return 1;
    }
    std::printf("%.6f %.6f\n", perFrame * 1000.0, copy * 1000.0);
    return 0;
}

bool number(const char* text, double lo, double hi, double& out) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (!end || *end || end == text || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs %s\n", a.c_str(), what);
                std::exit(1);
            }
            return argv[++i];
        };
        auto numeric = [&](const char* what, double lo, double hi) -> double {
            const char* text = value(what);
            double v = 0;
            if (!number(text, lo, hi, v)) {
                std::fprintf(stderr, "%s: %s is not %s\n", a.c_str(), text, what);
                std::exit(1);
            }
            return v;
        };
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("loopmixer-encode %s\n", programVersion());
            return 0;
        } else if (a == "-o" || a == "--output") {
            o.output = value("a path");
        } else if (a == "--run-dir") {
            o.runDir = value("a folder");
        } else if (a == "--format") {
            o.format = int(numeric("17 or 18", 17, 18));
        } else if (a == "--quality") {
            o.quality = int(numeric("a quality from 1 to 100", 1, 100));
        } else if (a == "--max-size") {
            o.maxSize = (long long)numeric("a size in bytes", 1, 1e12);
        } else if (a == "--fit") {
            std::string f = value("crop, letterbox or stretch");
            if (f == "crop") o.input.fit = Fit::Crop;
            else if (f == "letterbox") o.input.fit = Fit::Letterbox;
            else if (f == "stretch") o.input.fit = Fit::Stretch;
            else {
                std::fprintf(stderr, "--fit: %s is not crop, letterbox or stretch\n", f.c_str());
                return 1;
            }
        } else if (a == "--rate") {
            o.input.rate = numeric("a frame rate", 1, 1000);
        } else if (a == "--start") {
            o.input.start = numeric("a time in seconds", 0, 1e9);
        } else if (a == "--duration") {
            o.input.duration = numeric("a time in seconds", 0.001, 1e9);
        } else if (a == "--frames") {
            o.input.maxFrames = int(numeric("a frame count from 1 to 255", 1, MaxFrames));
        } else if (a == "--input-rate") {
            o.input.sequenceRate = numeric("a frame rate", 0.01, 1000);
        } else if (a == "--dither") {
            o.input.dither = true;
        } else if (a == "-y" || a == "--overwrite") {
            o.overwrite = true;
        } else if (a == "--playlist") {
            o.playlist = value("a playlist name");
        } else if (a == "--psnr") {
            std::string ref = value("two files");
            return psnrCommand(ref, value("two files"));
        } else if (a == "--decode") {
            std::string clip = value("a clip and a file");
            return decodeCommand(clip, value("a clip and a file"));
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "unknown option %s (see --help)\n", a.c_str());
            return 1;
        } else {
            o.inputs.push_back(a);
        }
    }
    if (o.inputs.empty()) {
        usage(stderr);
        return 1;
    }

    // The run folder the instrument itself would take, made from its default set when new.
    if (o.runDir.empty()) {
        std::string error;
        o.runDir = runFolderFor("", error);
        if (o.runDir.empty()) {
            std::fprintf(stderr, "loopmixer-encode: %s\n", error.c_str());
            return 1;
        }
    }

    // Where each clip goes.
    const std::string videos = o.runDir + "/videos";
    bool singleFile = o.inputs.size() == 1 && (endsWith(o.output, ".q18") || endsWith(o.output, ".q17"));
    std::string folder = singleFile ? "" : (o.output.empty() ? videos : o.output);
    if (!singleFile && !makeFolders(folder)) {
        std::fprintf(stderr, "cannot create the folder %s\n", folder.c_str());
        return 1;
    }
    if (singleFile) {
        size_t slash = o.output.rfind('/');
        if (slash != std::string::npos && !makeFolders(o.output.substr(0, slash))) {
            std::fprintf(stderr, "cannot create the folder of %s\n", o.output.c_str());
            return 1;
        }
    }
    if (singleFile && o.format && !endsWith(o.output, o.format == 17 ? ".q17" : ".q18")) {
        std::fprintf(stderr, "%s does not end in .q%d, the extension of --format %d\n", o.output.c_str(), o.format, o.format);
        return 1;
    }
    std::string videosAbsolute = absolutePath(videos);
    if (!o.playlist.empty()) {
        for (char c : o.playlist)
            if (c == '<' || c == '>' || (unsigned char)c < 32) {
                std::fprintf(stderr, "a playlist name cannot hold '<', '>' or control characters\n");
                return 1;
            }
        if (o.playlist.size() > LongestStoredText) {
            std::fprintf(stderr, "a playlist name cannot be longer than %zu bytes\n", LongestStoredText);
            return 1;
        }
        std::string target = absolutePath(singleFile ? o.output.substr(0, std::max<size_t>(1, o.output.rfind('/'))) : folder);
        if (singleFile && o.output.find('/') == std::string::npos) target = absolutePath(".");
        if (target.compare(0, videosAbsolute.size(), videosAbsolute) != 0) {
            std::fprintf(stderr, "--playlist needs the clips inside %s\n", videos.c_str());
            return 1;
        }
    }

    // Where each clip goes, and in which format.
    std::vector<std::string> paths;
    std::vector<int> formats;
    for (const std::string& in : o.inputs) {
        int format = o.format ? o.format : 18;
        if (singleFile) {
            if (!o.format) format = endsWith(o.output, ".q17") ? 17 : 18;
            paths.push_back(o.output);
        } else {
            paths.push_back(folder + "/" + baseName(in) + (format == 17 ? ".q17" : ".q18"));
        }
        formats.push_back(format);
    }
    // A clip already there may be in use: it is replaced only when asked, and before any work.
    if (!o.overwrite) {
        bool refused = false;
        for (size_t i = 0; i < paths.size(); i++) {
            if (!isFile(paths[i]) || std::find(paths.begin(), paths.begin() + long(i), paths[i]) != paths.begin() + long(i))
                continue;
            std::fprintf(stderr, "%s exists%s; -y or --overwrite replaces it\n", paths[i].c_str(),
                         playlistsUsing(absolutePath(paths[i]), videosAbsolute, o.runDir).c_str());
            refused = true;
        }
        if (refused) return 1;
    }

    signal(SIGINT, removeTemporary);
    signal(SIGTERM, removeTemporary);
    signal(SIGHUP, removeTemporary);
    Progress progress(isatty(2) != 0);
    int failures = 0;
    std::vector<std::string> playlistNames;
    for (size_t i = 0; i < o.inputs.size(); i++) {
        const std::string& in = o.inputs[i];
        const std::string& path = paths[i];
        const int format = formats[i];
        Made made;
        std::string error;
        if (!encodeOne(in, path, format, o, progress, made, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            failures++;
            continue;
        }
        std::string full = absolutePath(path);
        if (full.compare(0, videosAbsolute.size() + 1, videosAbsolute + "/") == 0)
            playlistNames.push_back(full.substr(videosAbsolute.size() + 1));
    }
    if (!o.playlist.empty() && !playlistNames.empty()) {
        std::string error;
        std::string file = o.runDir + "/data/playlists.xml";
        if (!addToPlaylist(file, o.playlist, playlistNames, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            failures++;
        } else {
            std::printf("playlist \"%s\" in %s: %zu clip(s) added\n", o.playlist.c_str(), file.c_str(),
                        playlistNames.size());
        }
    }
    return failures ? 1 : 0;
}
