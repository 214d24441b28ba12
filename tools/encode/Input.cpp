#include "tools/encode/Input.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <png.h>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace encode {

namespace {

constexpr int MaxClipFrames = 255;  // what a clip's frame count holds

// Half a millisecond: frame times that differ by less are the same instant.
constexpr double TimeSlack = 0.0005;

int framesWanted(const InputSettings& s) {
    int n = s.maxFrames;
    if (s.duration > 0) n = std::min(n, std::max(1, int(std::ceil(s.duration * s.rate - 1e-6))));
    return n;
}

// True when the clip's own limit, not the part the user chose, ends the frames taken.
bool cutByClipLimit(const InputSettings& s) {
    return framesWanted(s) == MaxClipFrames && s.maxFrames >= MaxClipFrames &&
           (s.duration <= 0 || s.duration * s.rate > MaxClipFrames);
}

// Marks a clip cut at its limit when the input lasts longer than the frames taken.
void noteCut(InputClip& clip, const InputSettings& s, double inputSeconds, bool moreFollows) {
    if (!cutByClipLimit(s) || int(clip.frames.size()) < MaxClipFrames) return;
    const double kept = MaxClipFrames / s.rate;
    const double left = inputSeconds - s.start - kept;
    if (inputSeconds > 0 && left > 0.5 / s.rate) {
        clip.cut = true;
        clip.droppedSeconds = left;
    } else if (inputSeconds <= 0 && moreFollows) {
        clip.cut = true;
    }
}

bool endsWithPng(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = char(tolower(c));
    return tail == ".png";
}

// "shot2.png" sorts before "shot10.png": runs of digits compare by value.
bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isdigit((unsigned char)a[i]) && isdigit((unsigned char)b[j])) {
            size_t i2 = i, j2 = j;
            while (i2 < a.size() && a[i2] == '0') i2++;
            while (j2 < b.size() && b[j2] == '0') j2++;
            size_t ie = i2, je = j2;
            while (ie < a.size() && isdigit((unsigned char)a[ie])) ie++;
            while (je < b.size() && isdigit((unsigned char)b[je])) je++;
            if (ie - i2 != je - j2) return ie - i2 < je - j2;
            int c = a.compare(i2, ie - i2, b, j2, je - j2);
            if (c != 0) return c < 0;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return (unsigned char)a[i] < (unsigned char)b[j];
            i++;
            j++;
        }
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> sequenceFiles(const std::string& path) {
    std::vector<std::string> files;
    struct stat st;
    if (path.find('%') != std::string::npos) {
        // A printf pattern: numbers from 0 or 1 on, until the first one missing.
        for (int first = 0; first <= 1 && files.empty(); first++) {
            for (int n = first;; n++) {
                char name[4096];
                snprintf(name, sizeof name, path.c_str(), n);
                if (stat(name, &st) != 0) break;
                files.push_back(name);
            }
        }
    } else if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (DIR* d = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.' && endsWithPng(e->d_name)) names.push_back(e->d_name);
            closedir(d);
            std::sort(names.begin(), names.end(), naturalLess);
            for (const std::string& n : names) files.push_back(path + "/" + n);
        }
    } else {
        files.push_back(path);
    }
    return files;
}

// Appends one fitted, quantised picture `repeat` times.
void emit(InputClip& clip, const SourcePicture& pic, const InputSettings& s, int repeat,
          std::vector<uint8_t>& fitted, const ProgressFn& progress) {
    fitPicture(pic, s.fit, fitted.data());
    clip.frames.emplace_back();
    quantise(fitted.data(), s.dither, clip.frames.back());
    for (int i = 1; i < repeat; i++) clip.frames.push_back(clip.frames.back());
    // Container durations are estimates: never show more frames done than expected.
    clip.expectedFrames = std::max(clip.expectedFrames, int(clip.frames.size()));
    if (progress) progress(int(clip.frames.size()), clip.expectedFrames);
}

bool readSequence(const std::string& path, const InputSettings& s, InputClip& clip,
                  const ProgressFn& progress, std::string& error) {
    std::vector<std::string> files = sequenceFiles(path);
    if (files.empty()) {
        error = path + ": no PNG pictures found";
        return false;
    }
    int wanted = framesWanted(s);
    // Output frame k shows the picture at time start + k / rate.
    std::vector<int> pick;
    for (int k = 0; k < wanted; k++) {
        double t = s.start + k / s.rate;
        long i = long(std::floor(t * s.sequenceRate + TimeSlack));
        if (i >= long(files.size())) break;
        pick.push_back(int(i));
    }
    if (pick.empty()) {
        error = path + ": no frames after " + std::to_string(s.start) + " s";
        return false;
    }
    clip.expectedFrames = int(pick.size());
    const double sequenceSeconds = double(files.size()) / s.sequenceRate;
    std::vector<uint8_t> fitted(Pixels * 4);
    bool anyAlpha = false;
    for (size_t k = 0; k < pick.size();) {
        size_t repeat = 1;
        while (k + repeat < pick.size() && pick[k + repeat] == pick[k]) repeat++;
        const std::string& file = files[pick[k]];
        png_image image;
        memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, file.c_str())) {
            error = "cannot read " + file + ": " + image.message;
            return false;
        }
        if (image.format & PNG_FORMAT_FLAG_ALPHA) anyAlpha = true;
        image.format = PNG_FORMAT_RGBA;
        std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
            error = "cannot read " + file + ": " + image.message;
            png_image_free(&image);
            return false;
        }
        SourcePicture pic;
        pic.rgba = pixels.data();
        pic.width = int(image.width);
        pic.height = int(image.height);
        pic.stride = int(PNG_IMAGE_ROW_STRIDE(image));
        emit(clip, pic, s, int(repeat), fitted, progress);
        k += repeat;
    }
    clip.hasAlpha = anyAlpha;
    noteCut(clip, s, sequenceSeconds, false);
    return true;
}

// Owners of the FFmpeg objects, freed on every way out.
struct VideoDecoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwsContext* sws = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    AVFrame* held = av_frame_alloc();  // the latest picture not yet shown
    ~VideoDecoder() {
        sws_freeContext(sws);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        av_packet_free(&packet);
        av_frame_free(&frame);
        av_frame_free(&held);
    }
};

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool readVideo(const std::string& path, const InputSettings& s, InputClip& clip,
               const ProgressFn& progress, std::string& error) {
    av_log_set_level(AV_LOG_QUIET);
    VideoDecoder v;
    int rc = avformat_open_input(&v.format, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        error = "cannot read " + path + ": " + avError(rc);
        return false;
    }
    if ((rc = avformat_find_stream_info(v.format, nullptr)) < 0) {
        error = "cannot read " + path + ": " + avError(rc);
        return false;
    }
    const AVCodec* decoder = nullptr;
    int si = av_find_best_stream(v.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (si < 0 || !decoder) {
        error = path + ": no video stream";
        return false;
    }
    AVStream* stream = v.format->streams[si];
    // FFmpeg's own VP8 and VP9 decoders drop the alpha that WebM carries beside the picture; the
    // libvpx ones read it.
    const AVDictionaryEntry* alphaMode = av_dict_get(stream->metadata, "alpha_mode", nullptr, 0);
    const bool vpx = decoder->id == AV_CODEC_ID_VP8 || decoder->id == AV_CODEC_ID_VP9;
    if (vpx && alphaMode && std::strcmp(alphaMode->value, "1") == 0) {
        const AVCodec* withAlpha = avcodec_find_decoder_by_name(decoder->id == AV_CODEC_ID_VP8 ? "libvpx" : "libvpx-vp9");
        if (withAlpha) decoder = withAlpha;
        else clip.alphaDropped = true;
    }
    v.codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(v.codec, stream->codecpar);
    v.codec->thread_count = 0;
    if ((rc = avcodec_open2(v.codec, decoder, nullptr)) < 0) {
        error = "cannot decode " + path + ": " + avError(rc);
        return false;
    }
    double timeBase = av_q2d(stream->time_base);
    AVRational guessed = av_guess_frame_rate(v.format, stream, nullptr);
    double frameTime = guessed.num > 0 && guessed.den > 0 ? av_q2d(av_inv_q(guessed)) : 1.0 / 25;
    int64_t firstPts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;

    int wanted = framesWanted(s);
    clip.expectedFrames = wanted;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        clip.expectedFrames = std::min(wanted, std::max(1, int(std::lround((stream->duration * timeBase - s.start) * s.rate))));
    else if (v.format->duration > 0)
        clip.expectedFrames = std::min(wanted, std::max(1, int(std::lround((v.format->duration / double(AV_TIME_BASE) - s.start) * s.rate))));
    if (s.start > 0) {
        int64_t target = firstPts + int64_t(s.start / timeBase);
        av_seek_frame(v.format, si, target, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(v.codec);
    }

    std::vector<uint8_t> fitted(Pixels * 4);
    std::vector<uint8_t> rgba;
    bool anyAlpha = false;
    bool haveHeld = false;
    double heldTime = 0, lastTime = -1;
    int done = 0;

    // Shows the held picture for the output frames due before `until`.
    auto showHeldUntil = [&](double until) -> bool {
        int repeat = 0;
        while (done + repeat < wanted && s.start + (done + repeat) / s.rate < until - TimeSlack) repeat++;
        if (repeat == 0) return true;
        AVFrame* f = v.held;
        AVPixelFormat fmt = AVPixelFormat(f->format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(fmt);
        if (desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA)) anyAlpha = true;
        v.sws = sws_getCachedContext(v.sws, f->width, f->height, fmt, f->width, f->height,
                                     AV_PIX_FMT_RGBA, SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                     nullptr, nullptr, nullptr);
        if (!v.sws) {
            error = "cannot convert the pictures of " + path;
            return false;
        }
        rgba.resize(size_t(f->width) * f->height * 4);
        uint8_t* dst[4] = {rgba.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {f->width * 4, 0, 0, 0};
        sws_scale(v.sws, f->data, f->linesize, 0, f->height, dst, dstStride);
        SourcePicture pic;
        pic.rgba = rgba.data();
        pic.width = f->width;
        pic.height = f->height;
        pic.stride = f->width * 4;
        AVRational sar = f->sample_aspect_ratio.num ? f->sample_aspect_ratio : stream->sample_aspect_ratio;
        pic.sampleAspect = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
        emit(clip, pic, s, repeat, fitted, progress);
        done += repeat;
        return true;
    };

    // Takes one decoded picture: the held one is shown until this one's time.
    auto take = [&](AVFrame* f) -> bool {
        int64_t pts = f->best_effort_timestamp;
        double t = pts == AV_NOPTS_VALUE ? lastTime + frameTime : (pts - firstPts) * timeBase;
        if (t <= lastTime) t = lastTime + 1e-6;  // keep times increasing whatever the stamps say
        lastTime = t;
        if (haveHeld && !showHeldUntil(t)) return false;
        // Before the first output time only the latest picture matters; the first picture of
        // all also covers any output time before it.
        av_frame_unref(v.held);
        av_frame_move_ref(v.held, f);
        heldTime = t;
        if (!haveHeld && t > s.start + TimeSlack) {
            haveHeld = true;
            return showHeldUntil(t + TimeSlack * 2);
        }
        haveHeld = true;
        return true;
    };

    bool ended = false;
    while (!ended && done < wanted) {
        rc = av_read_frame(v.format, v.packet);
        if (rc < 0) {
            avcodec_send_packet(v.codec, nullptr);  // drain
            ended = true;
        } else if (v.packet->stream_index != si) {
            av_packet_unref(v.packet);
            continue;
        } else {
            avcodec_send_packet(v.codec, v.packet);
            av_packet_unref(v.packet);
        }
        while (done < wanted && avcodec_receive_frame(v.codec, v.frame) == 0)
            if (!take(v.frame)) return false;
    }
    if (haveHeld && done < wanted && !showHeldUntil(heldTime + frameTime)) return false;
    double inputSeconds = -1;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) inputSeconds = stream->duration * timeBase;
    else if (v.format->duration > 0) inputSeconds = v.format->duration / double(AV_TIME_BASE);
    // Without a length from the container, a picture after the last one taken says the input went on.
    noteCut(clip, s, inputSeconds, !ended || (haveHeld && heldTime > s.start + (done - 0.5) / s.rate));
    if (clip.frames.empty()) {
        error = s.start > 0 ? path + ": no frames after " + std::to_string(s.start) + " s"
                            : path + ": no frames";
        return false;
    }
    clip.hasAlpha = anyAlpha;
    return true;
}

}  // namespace

bool isPictureSequence(const std::string& path) {
    struct stat st;
    if (path.find('%') != std::string::npos) return true;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    return endsWithPng(path);
}

bool readInput(const std::string& path, const InputSettings& settings, InputClip& clip,
               const ProgressFn& progress, std::string& error) {
    clip = InputClip();
    bool ok = isPictureSequence(path) ? readSequence(path, settings, clip, progress, error)
                                      : readVideo(path, settings, clip, progress, error);
    if (!ok) return false;
    // A declared alpha channel that is opaque everywhere costs bytes and gives nothing.
    if (clip.hasAlpha) {
        bool used = false;
        for (const Frame565& f : clip.frames)
            for (uint8_t a : f.alpha)
                if (a != 15) {
                    used = true;
                    break;
                }
        clip.hasAlpha = used;
    }
    return true;
}

}  // namespace encode
