#include "record/VideoWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "core/FrameBuffers.h"
#include "record/FrameQueue.h"
#include "record/PictureScale.h"

static bool endsWith(const char* s, const char* suffix) {
    const size_t n = std::strlen(s), m = std::strlen(suffix);
    return n > m && strcasecmp(s + n - m, suffix) == 0;
}

TargetKind targetKind(const char* target) {
    if (!target || !*target) return TargetKind::Unknown;
    if (std::strncmp(target, "udp://", 6) == 0 || std::strncmp(target, "srt://", 6) == 0) return TargetKind::Stream;
    if (std::strncmp(target, "/dev/video", 10) == 0) return TargetKind::Device;
    if (std::strstr(target, "://")) return TargetKind::Unknown;
    if (endsWith(target, ".mkv")) return TargetKind::Matroska;
    if (endsWith(target, ".mp4")) return TargetKind::Mp4;
    return TargetKind::Unknown;
}

bool targetIsFile(TargetKind kind) { return kind == TargetKind::Matroska || kind == TargetKind::Mp4; }

bool VideoWriter::fail(const char* what, int code) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    // A file-size limit (ulimit -f) or a quota stops the file as a full disk does.
    if (code == AVERROR(ENOSPC) || code == AVERROR(EFBIG) || code == AVERROR(EDQUOT))
        std::snprintf(reason, sizeof reason, "disk full");
    else
        av_strerror(code, reason, sizeof reason);
    std::snprintf(errorText, sizeof errorText, "%s: %s", what, reason);
    return false;
}

bool VideoWriter::open(const char* target, int scaleFactor, bool steady, int (*interrupted)(void*), void* opaque) {
    abandon();
    errorText[0] = 0;
    static std::once_flag devices;
    std::call_once(devices, [] {
        avdevice_register_all();
        av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics would fill the terminal
    });

    const TargetKind kind = targetKind(target);
    if (kind == TargetKind::Unknown) {
        std::snprintf(errorText, sizeof errorText, "unknown target (.mkv, .mp4, udp://, srt:// or /dev/videoN)");
        return false;
    }
    scale = scaleFactor < 1 ? 1 : (scaleFactor > MaxRecordScale ? MaxRecordScale : scaleFactor);
    constantRate = steady;
    started = holding = headerWritten = createdFile = false;
    nextPts = 0;
    framesEncoded = framesInFile = 0;
    std::snprintf(path, sizeof path, "%s", target);
    const int width = FrameWidth * scale, height = FrameHeight * scale;

    const char* formatName = kind == TargetKind::Matroska ? "matroska"
                             : kind == TargetKind::Mp4    ? "mp4"
                             : kind == TargetKind::Stream ? "mpegts"
                                                          : "v4l2";
    int r = avformat_alloc_output_context2(&output, nullptr, formatName, target);
    if (r < 0 || !output) return fail("no muxer", r < 0 ? r : AVERROR_MUXER_NOT_FOUND);
    output->interrupt_callback.callback = interrupted;
    output->interrupt_callback.opaque = opaque;
    // Every packet goes out at once: a stream keeps its latency, a file is on disk as far as it got.
    // UDP is the exception: flushed packets leave as short datagrams, and receivers expect whole
    // ones of seven transport packets; a frame's last bytes wait for the next frame instead.
    if (std::strncmp(target, "udp://", 6) == 0) {
        output->flush_packets = 0;
    } else {
        output->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    }

    const char* codecName = kind == TargetKind::Matroska ? "ffv1" : kind == TargetKind::Device ? "rawvideo" : "libx264";
    const AVCodec* encoder = avcodec_find_encoder_by_name(codecName);
    if (!encoder) return fail(codecName, AVERROR_ENCODER_NOT_FOUND);
    codec = avcodec_alloc_context3(encoder);
    stream = avformat_new_stream(output, nullptr);
    packet = av_packet_alloc();
    picture = av_frame_alloc();
    if (!codec || !stream || !packet || !picture) return fail("setting up", AVERROR(ENOMEM));

    const AVPixelFormat format = kind == TargetKind::Matroska ? AV_PIX_FMT_BGR0
                                 : kind == TargetKind::Mp4    ? AV_PIX_FMT_YUV444P
                                                              : AV_PIX_FMT_YUV420P;
    codec->width = width;
    codec->height = height;
    codec->pix_fmt = format;
    codec->time_base = constantRate ? AVRational{1, ConstantRateFps} : AVRational{1, 1000};
    codec->framerate = AVRational{ConstantRateFps, 1};
    codec->sample_aspect_ratio = AVRational{1, 1};
    if (format != AV_PIX_FMT_BGR0) {
        codec->colorspace = AVCOL_SPC_SMPTE170M;
        codec->color_range = AVCOL_RANGE_MPEG;
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* codecOptions = nullptr;
    switch (kind) {
    case TargetKind::Matroska:
        // A keyframe every second: a file cut short still plays and seeks up to its end.
        codec->gop_size = 25;
        // Four slices coded on two threads: at scale 4 one thread took some two thirds of a core.
        codec->thread_count = 2;
        codec->thread_type = FF_THREAD_SLICE;
        av_dict_set(&codecOptions, "level", "3", 0);
        av_dict_set(&codecOptions, "slices", "4", 0);
        break;
    case TargetKind::Mp4:
        codec->gop_size = 50;
        codec->thread_count = 2;
        av_dict_set(&codecOptions, "preset", "veryfast", 0);
        av_dict_set(&codecOptions, "crf", "14", 0);
        break;
    case TargetKind::Stream:
        codec->gop_size = 25;  // a receiver that joins late shows a picture within a second
        codec->thread_count = 2;
        codec->max_b_frames = 0;
        av_dict_set(&codecOptions, "preset", "veryfast", 0);
        av_dict_set(&codecOptions, "tune", "zerolatency", 0);
        av_dict_set(&codecOptions, "crf", "20", 0);
        break;
    default: break;
    }
    r = avcodec_open2(codec, encoder, &codecOptions);
    av_dict_free(&codecOptions);
    if (r < 0) return fail("cannot start the encoder", r);
    r = avcodec_parameters_from_context(stream->codecpar, codec);
    if (r < 0) return fail("setting up", r);
    stream->time_base = codec->time_base;
    stream->avg_frame_rate = codec->framerate;

    picture->format = format;
    picture->width = width;
    picture->height = height;
    if ((r = av_frame_get_buffer(picture, 0)) < 0) return fail("setting up", r);
    if (format != AV_PIX_FMT_BGR0) {
        rgb = av_frame_alloc();
        if (!rgb) return fail("setting up", AVERROR(ENOMEM));
        rgb->format = AV_PIX_FMT_BGR0;
        rgb->width = width;
        rgb->height = height;
        if ((r = av_frame_get_buffer(rgb, 0)) < 0) return fail("setting up", r);
        // Same size: only the colours change (BT.601, limited range, as tagged above).
        convert = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, format,
                                 SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
        if (!convert) return fail("setting up", AVERROR(EINVAL));
    }

    return true;
}

// The output is created and its header written when the first frame comes: a recording stopped or
// killed before it leaves no file that holds no frame.
bool VideoWriter::begin() {
    const TargetKind kind = targetKind(path);
    const char* target = path;
    int r = 0;
    AVDictionary* ioOptions = nullptr;
    if (kind == TargetKind::Stream && std::strncmp(target, "udp://", 6) == 0)
        av_dict_set(&ioOptions, "pkt_size", "1316", 0);  // seven transport packets per datagram
    if (!(output->oformat->flags & AVFMT_NOFILE)) {
        r = avio_open2(&output->pb, target, AVIO_FLAG_WRITE, &output->interrupt_callback, &ioOptions);
        createdFile = r >= 0 && targetIsFile(kind);
        if (r < 0) {
            av_dict_free(&ioOptions);
            return fail("cannot open", r);
        }
    }
    av_dict_free(&ioOptions);

    AVDictionary* muxOptions = nullptr;
    if (kind == TargetKind::Mp4)  // fragments: a file cut short plays up to its last fragment
        av_dict_set(&muxOptions, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    if (kind == TargetKind::Matroska) av_dict_set(&muxOptions, "cluster_time_limit", "1000", 0);
    if (kind == TargetKind::Stream) output->max_delay = 0;
    r = avformat_write_header(output, &muxOptions);
    av_dict_free(&muxOptions);
    if (r < 0) return fail("cannot open", r);
    headerWritten = true;
    return true;
}

bool VideoWriter::writePacket() {
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    int r = av_write_frame(output, packet);
    av_packet_unref(packet);
    // A file's muxer holds packets back (a Matroska cluster, an MP4 fragment): flushed after each
    // one, every frame counted is in the file, and one cut short plays up to its last frame.
    if (r >= 0 && createdFile && (output->oformat->flags & AVFMT_ALLOW_FLUSH)) r = av_write_frame(output, nullptr);
    if (r >= 0 && createdFile) avio_flush(output->pb);
    if (r >= 0 && output->pb && output->pb->error < 0) r = output->pb->error;
    if (r < 0) return fail("write failed", r);
    framesInFile++;
    return true;
}

bool VideoWriter::drain() {
    for (;;) {
        const int r = avcodec_receive_packet(codec, packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return fail("encoder failed", r);
        if (!writePacket()) return false;
    }
}

bool VideoWriter::encode(int64_t pts) {
    picture->pts = pts;
    const int r = avcodec_send_frame(codec, picture);
    if (r < 0) return fail("encoder failed", r);
    framesEncoded++;
    return drain();
}

bool VideoWriter::write(const QueuedFrame& frame) {
    if (!output) return false;
    if (!headerWritten && !begin()) return false;
    if (!started) startTicks = frame.ticks;
    const int64_t elapsed = int64_t(uint32_t(frame.ticks - startTicks));
    const int64_t pts = constantRate ? (elapsed * ConstantRateFps + 500) / 1000 : elapsed;

    // Constant rate: the held frame fills every slot up to this one's.
    if (constantRate && holding) {
        for (; nextPts < pts; nextPts++)
            if (!encode(nextPts)) return false;
    }

    if (!frame.repeat || !started) {
        // The encoder may still hold the last picture: give it a buffer of its own first.
        int r = av_frame_make_writable(picture);
        if (r >= 0 && rgb) r = av_frame_make_writable(rgb);
        if (r < 0) return fail("out of memory", r);
        AVFrame* target = rgb ? rgb : picture;
        scaleToBgr0(frame.pixels, target->data[0], target->linesize[0], scale);
        if (rgb) sws_scale(convert, rgb->data, rgb->linesize, 0, rgb->height, picture->data, picture->linesize);
    }
    started = true;

    if (constantRate) {
        // A frame in a slot already taken replaces the frame held there.
        holding = true;
        if (pts > nextPts) nextPts = pts;
        return true;
    }
    const int64_t at = pts < nextPts ? nextPts : pts;
    nextPts = at + 1;
    return encode(at);
}

bool VideoWriter::close() {
    if (!output) return false;
    if (!headerWritten) {  // no frame came: nothing was created
        abandon();
        return true;
    }
    bool ok = true;
    if (constantRate && holding) ok = encode(nextPts);
    if (ok) {
        const int r = avcodec_send_frame(codec, nullptr);
        ok = r < 0 ? fail("encoder failed", r) : drain();
    }
    if (ok) {
        int r = av_write_trailer(output);
        if (r >= 0 && output->pb && output->pb->error < 0) r = output->pb->error;
        if (r < 0) ok = fail("closing failed", r);
    }
    if (ok && output->pb && !(output->oformat->flags & AVFMT_NOFILE)) {
        const int r = avio_closep(&output->pb);
        if (r < 0) ok = fail("closing failed", r);
    }
    abandon();
    return ok;
}

void VideoWriter::abandon() {
    if (output && output->pb && !(output->oformat->flags & AVFMT_NOFILE)) avio_closep(&output->pb);
    // A file that holds no frame (its header failed on a full disk) is no recording: no reader
    // opens it.
    if (createdFile && framesInFile == 0) unlink(path);
    createdFile = false;
    avformat_free_context(output);
    output = nullptr;
    stream = nullptr;
    avcodec_free_context(&codec);
    av_frame_free(&picture);
    av_frame_free(&rgb);
    av_packet_free(&packet);
    sws_freeContext(convert);
    convert = nullptr;
}
