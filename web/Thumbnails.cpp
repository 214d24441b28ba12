#include "web/Thumbnails.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <vector>

#include "core/FrameBuffers.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "tracks/Track.h"
#include "web/JpegPicture.h"

std::string thumbnailPath(const std::string& clipPath) {
    const size_t slash = clipPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : clipPath.substr(0, slash);
    const std::string name = slash == std::string::npos ? clipPath : clipPath.substr(slash + 1);
    return folder + "/.thumbs/" + name + ".jpg";
}

bool thumbnailCurrent(const std::string& clipPath) {
    struct stat clip, thumb;
    if (stat(clipPath.c_str(), &clip) != 0 || stat(thumbnailPath(clipPath).c_str(), &thumb) != 0) return false;
    return thumb.st_mtim.tv_sec > clip.st_mtim.tv_sec ||
           (thumb.st_mtim.tv_sec == clip.st_mtim.tv_sec && thumb.st_mtim.tv_nsec >= clip.st_mtim.tv_nsec);
}

bool makeThumbnail(Track& track) {
    if (track.ready != Ready || track.frameCount == 0 || !deckFrames) return false;
    int deck = -1;
    for (int d = 1; d >= 0 && deck < 0; d--)
        if (!effectTable.effectOn(d, Glitch)) deck = d;
    if (deck < 0) return false;

    uint16_t* frame = deckFrames + deck * FramePixels;
    static std::unique_ptr<uint16_t[]> kept(new uint16_t[FramePixels]);
    memcpy(kept.get(), frame, FrameBytes);
    track.invalidate();
    track.decodeFrame(deck, 0, 0);
    std::vector<uint16_t> half(ThumbnailWidth * ThumbnailHeight);
    halvePicture(frame, FrameWidth, FrameHeight, FrameWidth, half.data());
    memcpy(frame, kept.get(), FrameBytes);
    track.invalidate();

    std::vector<uint8_t> jpeg;
    if (!encodeJpeg(half.data(), ThumbnailWidth, ThumbnailHeight, ThumbnailWidth, ThumbnailQuality, jpeg)) return false;
    const std::string path = thumbnailPath(track.path);
    mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
    // Written aside and renamed, so that the server never reads half a picture.
    const std::string temporary = path + ".part";
    FILE* f = fopen(temporary.c_str(), "wb");
    bool ok = f && fwrite(jpeg.data(), 1, jpeg.size(), f) == jpeg.size();
    if (f) ok = fclose(f) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        remove(temporary.c_str());
        std::cout << "web: cannot write " << path << std::endl;
    }
    return ok;
}
