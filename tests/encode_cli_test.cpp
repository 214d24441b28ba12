// loopmixer-encode as a user runs it: video input through FFmpeg, choosing the part and rate of
// the input, bad inputs, a stopped encode, --max-size and --playlist.
#include <gtest/gtest.h>

#ifdef LOOPMIXER_ENCODER
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <png.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/FrameBuffers.h"
#include "tracks/Track.h"
#include "encode_support.h"

extern char** environ;

namespace {

using namespace encodetest;

void spill(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> listFolder(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One flat colour per frame: red level (0..31) = the frame's number, so a decoded frame tells
// which input picture it shows.
void writePng(const std::string& path, const std::vector<uint8_t>& px, uint32_t format) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = 320;
    image.height = 240;
    image.format = format;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, px.data(), 0, nullptr));
}

void writeFlatPng(const std::string& path, int level) {
    std::vector<uint8_t> px(320 * 240 * 4, 255);
    for (size_t i = 0; i < px.size(); i += 4) px[i] = uint8_t(level << 3), px[i + 1] = px[i + 2] = 0;
    writePng(path, px, PNG_FORMAT_RGBA);
}

void writeNoisePng(const std::string& path, unsigned seed) {
    std::vector<uint8_t> px(320 * 240 * 3);
    for (auto& v : px) v = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
    writePng(path, px, PNG_FORMAT_RGB);
}

// A raw RGB24 video (the container from the file name): frame i is flat with red level levels[i].
void writeVideo(const std::string& path, int fps, const std::vector<int>& levels) {
    AVFormatContext* oc = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&oc, nullptr, nullptr, path.c_str()), 0);
    AVStream* st = avformat_new_stream(oc, nullptr);
    st->time_base = AVRational{1, fps};
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
    st->codecpar->format = AV_PIX_FMT_RGB24;
    st->codecpar->codec_tag = avcodec_pix_fmt_to_codec_tag(AV_PIX_FMT_RGB24);
    st->codecpar->width = 320;
    st->codecpar->height = 240;
    ASSERT_GE(avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(oc, nullptr), 0);
    for (size_t i = 0; i < levels.size(); i++) {
        AVPacket* pkt = av_packet_alloc();
        av_new_packet(pkt, 320 * 240 * 3);
        for (int p = 0; p < 320 * 240; p++) {
            pkt->data[3 * p] = uint8_t(levels[i] << 3);
            pkt->data[3 * p + 1] = pkt->data[3 * p + 2] = 0;
        }
        pkt->stream_index = 0;
        pkt->pts = pkt->dts = av_rescale_q(int64_t(i), AVRational{1, fps}, st->time_base);
        pkt->duration = 1;
        pkt->flags |= AV_PKT_FLAG_KEY;
        av_interleaved_write_frame(oc, pkt);
        av_packet_free(&pkt);
    }
    av_write_trailer(oc);
    avio_closep(&oc->pb);
    avformat_free_context(oc);
}

// A clip loaded by the program's own loader; null when it refuses the file.
std::unique_ptr<Track> loadedClip(const std::string& path) {
    allocateFrameBuffers();
    std::unique_ptr<Track> t(new Track);
    t->assign(".", "x");
    t->path = path;
    int r = 1;
    for (int i = 0; i < 100 && r == 1; i++) r = t->loadStep(65000);
    if (r != 2) t.reset();
    return t;
}

// The red level of pixel (0, 0) of every frame of a clip, as the program's decoder draws it.
std::vector<int> shownLevels(const std::string& path) {
    std::unique_ptr<Track> t = loadedClip(path);
    std::vector<int> levels;
    if (!t) return levels;
    for (int f = 0; f < t->frameCount; f++) {
        t->decodeFrame(1, f, 0);
        levels.push_back(deckFrames[FramePixels] >> 11);
    }
    t->releaseBuffers();
    return levels;
}

class EncodeCli : public ::testing::Test {
protected:
    std::string dir = makeFolder();
    void TearDown() override { if (!getenv("KEEP")) system(("rm -rf " + dir).c_str()); }
};

TEST_F(EncodeCli, VideoIsResampledToTheDeckRateAndPartsCanBePicked) {
    writeVideo(dir + "/v25.nut", 25, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    writeVideo(dir + "/v50.nut", 50, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    Outcome r = encoder(dir, dir + "/v25.nut -o " + dir + "/a.q18");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shownLevels(dir + "/a.q18"), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    r = encoder(dir, dir + "/v50.nut -o " + dir + "/b.q18");  // every other picture
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shownLevels(dir + "/b.q18"), (std::vector<int>{1, 3, 5, 7, 9}));

    r = encoder(dir, dir + "/v25.nut --rate 50 -o " + dir + "/c.q18");  // every picture twice
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shownLevels(dir + "/c.q18"), (std::vector<int>{1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10}));

    r = encoder(dir, dir + "/v25.nut --start 0.2 --frames 3 -o " + dir + "/d.q18");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shownLevels(dir + "/d.q18"), (std::vector<int>{6, 7, 8}));

    r = encoder(dir, dir + "/v25.nut --duration 0.12 -o " + dir + "/e.q17");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shownLevels(dir + "/e.q17"), (std::vector<int>{1, 2, 3}));
}

TEST_F(EncodeCli, PictureSequencesFollowTheirNumbersAndInputRate) {
    mkdir((dir + "/seq").c_str(), 0777);
    // Numbered without leading zeros: 10 must come after 9.
    for (int i = 1; i <= 12; i++) writeFlatPng(dir + "/seq/p" + std::to_string(i) + ".png", i);
    Outcome r = encoder(dir, dir + "/seq --input-rate 50 -o " + dir + "/s.q18");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shownLevels(dir + "/s.q18"), (std::vector<int>{1, 3, 5, 7, 9, 11}));
    r = encoder(dir, "'" + dir + "/seq/p%d.png' --start 0.4 -o " + dir + "/t.q18");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shownLevels(dir + "/t.q18"), (std::vector<int>{11, 12}));
}

TEST_F(EncodeCli, BadInputsGiveOneLineAndStatusOneAndLeaveNothing) {
    mkdir((dir + "/out").c_str(), 0777);
    mkdir((dir + "/empty").c_str(), 0777);
    spill(dir + "/junk.mp4", std::string(4000, '\x5a'));
    // A valid sound file: readable, but no video in it.
    std::string wav = "RIFF" + std::string("\x24\x10\x00\x00", 4) + "WAVEfmt " + std::string("\x10\0\0\0\1\0\1\0\x40\x1f\0\0\x80\x3e\0\0\2\0\x10\0", 20) +
                      "data" + std::string("\x00\x10\x00\x00", 4) + std::string(4096, '\0');
    spill(dir + "/sound.wav", wav);
    writeVideo(dir + "/none.avi", 25, {});
    mkdir((dir + "/seq").c_str(), 0777);
    writeFlatPng(dir + "/seq/p1.png", 3);

    struct Case {
        std::string input, mentions;
    } cases[] = {
        {dir + "/missing.mp4", "missing.mp4"},
        {dir + "/junk.mp4", "junk.mp4"},
        {dir + "/sound.wav", "no video stream"},
        {dir + "/none.avi", "no frames"},
        {dir + "/empty", "no PNG pictures"},
        {dir + "/seq --start 5", "no frames"},
    };
    for (const Case& c : cases) {
        Outcome r = encoder(dir, c.input + " -o " + dir + "/out");
        EXPECT_EQ(r.status, 1) << c.input;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.input << ": " << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << c.input;
        EXPECT_TRUE(listFolder(dir + "/out").empty()) << c.input;
    }
}

TEST_F(EncodeCli, AStoppedEncodeLeavesNoClipAndNoTemporaryFile) {
    mkdir((dir + "/noise").c_str(), 0777);
    for (int i = 0; i < 120; i++) {
        char name[64];
        snprintf(name, sizeof name, "/noise/n%03d.png", i);
        writeNoisePng(dir + name, unsigned(i + 1));
    }
    mkdir((dir + "/out").c_str(), 0777);
    // Stopped while encoding, and stopped the moment the temporary clip appears.
    for (int when : {0, 1}) {
        std::string in = dir + "/noise", out = dir + "/out";
        const char* argv[] = {LOOPMIXER_ENCODER, in.c_str(), "--quality", "100", "-o", out.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, LOOPMIXER_ENCODER, &actions, nullptr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        if (when == 0) {
            usleep(400 * 1000);
        } else {
            for (int i = 0; i < 600000 && !exists(out + "/.noise.q18.part"); i++) usleep(100);
        }
        kill(pid, SIGINT);
        int status = 0;
        waitpid(pid, &status, 0);
        std::vector<std::string> left = listFolder(out);
        if (when == 0) {
            EXPECT_TRUE(WIFSIGNALED(status)) << "the encode should still have been running";
        }
        if (WIFSIGNALED(status)) {
            EXPECT_TRUE(left.empty()) << left.front();
        } else {
            // It finished first: then the clip is complete.
            ASSERT_EQ(left, std::vector<std::string>{"noise.q18"});
            EXPECT_EQ(shownLevels(out + "/noise.q18").size(), 120u);
            unlink((out + "/noise.q18").c_str());
        }
    }
}

TEST_F(EncodeCli, MaxSizeGivesTheBestClipThatFits) {
    mkdir((dir + "/noise").c_str(), 0777);
    for (int i = 0; i < 3; i++) writeNoisePng(dir + "/noise/n" + std::to_string(i) + ".png", unsigned(i + 5));
    Outcome full = encoder(dir, dir + "/noise --quality 100 -o " + dir + "/full.q18");
    ASSERT_EQ(full.status, 0) << full.err;
    struct stat st;
    ASSERT_EQ(stat((dir + "/full.q18").c_str(), &st), 0);
    long limit = long(st.st_size) / 2;
    Outcome half = encoder(dir, dir + "/noise --max-size " + std::to_string(limit) + " -o " + dir + "/half.q18");
    ASSERT_EQ(half.status, 0) << half.err;
    ASSERT_EQ(stat((dir + "/half.q18").c_str(), &st), 0);
    EXPECT_LE(st.st_size, limit);
    EXPECT_GT(st.st_size, limit / 2) << "far below the size asked for";

    Outcome tiny = encoder(dir, dir + "/noise --max-size 100 -o " + dir + "/tiny.q18");
    EXPECT_EQ(tiny.status, 1);
    EXPECT_NE(tiny.err.find("no clip fits"), std::string::npos) << tiny.err;
    EXPECT_FALSE(exists(dir + "/tiny.q18"));
}

TEST_F(EncodeCli, PlaylistOptionAddsTheClipsWithTheExactFileBytes) {
    std::string run = dir + "/run";
    mkdir(run.c_str(), 0777);
    mkdir((run + "/data").c_str(), 0777);
    const std::string header = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n";
    const std::string old = "\t<playlist>\n\t\t<name>old</name>\n\t\t<track>a.q18</track>\n\t</playlist>\n";
    spill(run + "/data/playlists.xml", header + old + "</all>\n");
    for (const char* name : {"one", "two"}) {
        mkdir((dir + "/" + name).c_str(), 0777);
        writeFlatPng(dir + "/" + name + "/p.png", 4);
    }
    const std::string expected = header + old +
        "\t<playlist>\n\t\t<name>new list</name>\n\t\t<track>one.q18</track>\n\t\t<track>two.q18</track>\n\t</playlist>\n</all>\n";
    for (int pass = 0; pass < 2; pass++) {  // the second run adds nothing twice
        Outcome r = encoder(dir, dir + "/one " + dir + "/two -y --run-dir " + run + " --playlist 'new list'");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(slurp(run + "/data/playlists.xml"), expected);
        EXPECT_TRUE(exists(run + "/videos/one.q18") && exists(run + "/videos/two.q18"));
    }

    // The file holds names between tags, unescaped: a name that would break it is refused, and
    // a clip's file name never carries one.
    for (const std::string& name : {std::string("a</name>b"), std::string(4097, 'L')}) {
        Outcome bad = encoder(dir, dir + "/one --run-dir " + run + " --playlist '" + name + "'");
        EXPECT_EQ(bad.status, 1) << bad.err;
        EXPECT_EQ(slurp(run + "/data/playlists.xml"), expected);
    }
    mkdir((dir + "/x<y>").c_str(), 0777);
    writeFlatPng(dir + "/x<y>/p.png", 2);
    Outcome odd = encoder(dir, "'" + dir + "/x<y>' --run-dir " + run);
    EXPECT_EQ(odd.status, 0) << odd.err;
    EXPECT_TRUE(exists(run + "/videos/x_y_.q18"));

    // Something that is not a playlists file is not overwritten.
    spill(run + "/data/playlists.xml", "my notes");
    Outcome r = encoder(dir, dir + "/one -y --run-dir " + run + " --playlist x");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(slurp(run + "/data/playlists.xml"), "my notes");
}

// An existing clip may be in a playlist: it is kept, the one line says which playlists use it,
// and nothing is encoded; -y replaces it.
TEST_F(EncodeCli, AnExistingClipIsKeptUnlessOverwriteIsAsked) {
    const std::string run = dir + "/run";
    mkdir(run.c_str(), 0777);
    mkdir((run + "/data").c_str(), 0777);
    mkdir((run + "/videos").c_str(), 0777);
    spill(run + "/data/playlists.xml",
          "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n"
          "\t<playlist>\n\t\t<name>One</name>\n\t\t<track>orb.q18</track>\n\t</playlist>\n"
          "\t<playlist>\n\t\t<name>Two</name>\n\t\t<track>orb.q18</track>\n\t</playlist>\n</all>\n");
    spill(run + "/videos/orb.q18", "the bundled clip");
    mkdir((dir + "/orb").c_str(), 0777);
    writeFlatPng(dir + "/orb/p.png", 6);

    for (const std::string& output : {std::string(" --run-dir ") + run, " -o " + run + "/videos/orb.q18 --run-dir " + run}) {
        Outcome r = encoder(dir, dir + "/orb" + output);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, run + "/videos/orb.q18 exists (used by playlists \"One\", \"Two\"); -y or --overwrite "
                         "replaces it\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(slurp(run + "/videos/orb.q18"), "the bundled clip");
    }
    Outcome r = encoder(dir, dir + "/orb --overwrite --run-dir " + run);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shownLevels(run + "/videos/orb.q18"), std::vector<int>{6});
}

// Inputs made by the ffmpeg command: a long one, and WebM with alpha in VP8 and in VP9.
TEST_F(EncodeCli, ACutAt255FramesSaysWhatWasDroppedAndWebmAlphaIsKept) {
    if (system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg command";
    const std::string ffmpeg = "ffmpeg -loglevel error -y -f lavfi -i ";
    ASSERT_EQ(system((ffmpeg + "color=c=blue:s=320x240:r=25:d=11 -c:v ffv1 " + dir + "/long.mkv").c_str()), 0);
    Outcome r = encoder(dir, dir + "/long.mkv -o " + dir + "/long.q18");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("cut at 255 frames (10.20 s): the last 0.80 s of the input were dropped; choose the "
                         "part with --start SECONDS and --duration SECONDS\n"),
              std::string::npos)
        << r.out;
    r = encoder(dir, dir + "/long.mkv --start 1 --duration 2 -o " + dir + "/chosen.q18");
    EXPECT_EQ(r.out.find("cut at"), std::string::npos) << "a part chosen by the user is not a cut";

    for (const char* codec : {"libvpx", "libvpx-vp9"}) {
        const std::string webm = dir + "/" + codec + ".webm", clip = dir + "/" + codec + ".q18";
        ASSERT_EQ(system((ffmpeg + "'color=c=red@0.5:s=320x240:r=25:d=0.2,format=yuva420p' -c:v " + codec +
                          " -auto-alt-ref 0 " + webm).c_str()),
                  0);
        r = encoder(dir, webm + " -o " + clip);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("with alpha"), std::string::npos) << codec << ": " << r.out;
        std::unique_ptr<Track> t = loadedClip(clip);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->hasAlpha, 1);
        t->decodeFrame(1, 0, 3);
        EXPECT_NEAR(alphaPlane[160 * 320 + 120], 7.5, 1.0) << codec << ": half transparent";
        t->releaseBuffers();
    }
}

}  // namespace

#else

TEST(EncodeCli, Skipped) { GTEST_SKIP() << "loopmixer-encode was not built (FFmpeg's development libraries missing)"; }

#endif
