// One recording's output through FFmpeg's libraries. The target chooses container and codec:
//   *.mkv            Matroska, FFV1 lossless on 8-bit RGB (bgr0): the exact pictures
//   *.mp4            fragmented MP4, H.264 (libx264) 4:4:4, CRF 14
//   udp://, srt://   MPEG-TS, H.264 4:2:0, tuned for low latency
//   /dev/video*      a V4L2 output device (libavdevice), raw 4:2:0 pictures
// Timestamps are the presentation ticks (milliseconds), or a steady 25 frames per second with
// repeated or dropped frames when constantRate is set.
#pragma once
#include <cstdint>

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct QueuedFrame;

enum class TargetKind { Unknown, Matroska, Mp4, Stream, Device };

TargetKind targetKind(const char* target);
bool targetIsFile(TargetKind kind);

constexpr int MaxRecordScale = 8;
constexpr int ConstantRateFps = 25;

class VideoWriter {
public:
    ~VideoWriter() { abandon(); }

    // Opens the output and writes its header. interrupted (may be null) is polled while FFmpeg
    // waits on the network or the device; returning non-zero gives up.
    bool open(const char* target, int scale, bool constantRate, int (*interrupted)(void*), void* opaque);
    // Encodes and writes one frame. False on a failure (error() says which).
    bool write(const QueuedFrame& frame);
    // Encodes what is held back, writes the trailer and closes. False on a failure.
    bool close();
    // Frees everything without writing more (after a failure, or a half-opened output).
    void abandon();

    const char* error() const { return errorText; }
    int64_t framesEncoded = 0;  // frames handed to the encoder (with repeats in constant rate)
    // Frames whose packets reached the file (or left for the stream or device): a file is flushed
    // after every packet, so a failure or a kill loses at most the frame being written.
    int64_t framesInFile = 0;

private:
    bool fail(const char* what, int code);
    bool begin();
    bool encode(int64_t pts);
    bool drain();
    bool writePacket();

    AVFormatContext* output = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* picture = nullptr;  // the frame given to the encoder, in its pixel format
    AVFrame* rgb = nullptr;      // the scaled bgr0 picture when the encoder wants another format
    AVPacket* packet = nullptr;
    SwsContext* convert = nullptr;
    int scale = 1;
    bool constantRate = false;
    bool started = false;     // a first frame has come
    bool headerWritten = false;  // the output is opened at the first frame, never before
    bool createdFile = false;    // a file target was created by this recording
    char path[512] = {};
    bool holding = false;     // constant rate: picture holds a frame not yet encoded
    uint32_t startTicks = 0;
    int64_t nextPts = 0;      // constant rate: the slot of the held frame; else the least next pts
    char errorText[200] = {};
};
