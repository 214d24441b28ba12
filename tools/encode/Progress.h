// Progress of one stage of an encode: a bar redrawn in place on a terminal (frames done, rate,
// time left), plain lines every quarter otherwise. Written to standard error so that the summary
// on standard output stays clean.
#pragma once
#include <chrono>
#include <string>

namespace encode {

class Progress {
public:
    explicit Progress(bool terminal) : terminal_(terminal) {}
    void begin(const std::string& label);
    void update(int done, int total);
    void end();

private:
    bool terminal_;
    std::string label_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    int lastQuarter_ = -1;
    bool drawn_ = false;
};

}  // namespace encode
