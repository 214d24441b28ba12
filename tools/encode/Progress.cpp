#include "tools/encode/Progress.h"

#include <cstdio>

namespace encode {

using Clock = std::chrono::steady_clock;

void Progress::begin(const std::string& label) {
    label_ = label;
    start_ = lastDraw_ = Clock::now();
    lastQuarter_ = -1;
    drawn_ = false;
}

void Progress::update(int done, int total) {
    auto now = Clock::now();
    double elapsed = std::chrono::duration<double>(now - start_).count();
    double rate = elapsed > 0 ? done / elapsed : 0;
    if (terminal_) {
        // Redrawing more than ten times a second only costs time.
        if (done < total && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
        lastDraw_ = now;
        drawn_ = true;
        const int width = 24;
        int filled = total > 0 ? done * width / total : 0;
        char bar[width + 1];
        for (int i = 0; i < width; i++) bar[i] = i < filled ? '#' : '.';
        bar[width] = 0;
        int left = rate > 0 && total > done ? int((total - done) / rate + 0.5) : 0;
        std::fprintf(stderr, "\r%-9s [%s] %3d/%d frames  %5.1f fps  %d:%02d left\x1b[K", label_.c_str(), bar,
                     done, total, rate, left / 60, left % 60);
        std::fflush(stderr);
        return;
    }
    int quarter = total > 0 ? done * 4 / total : 0;
    if (quarter == lastQuarter_) return;
    lastQuarter_ = quarter;
    std::fprintf(stderr, "%s %d/%d frames, %.1f fps\n", label_.c_str(), done, total, rate);
}

void Progress::end() {
    if (terminal_ && drawn_) std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
}

}  // namespace encode
