#include "record/Recorder.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sys/stat.h>

#include "core/LaunchOptions.h"
#include "core/Notice.h"

Recorder recorder;

Recorder::~Recorder() {
    // Only reached when the process ends without shutting down; never leave a thread running.
    if (worker.joinable()) {
        stopRequested = 2;
        queue.close();
        worker.join();
    }
}

int Recorder::interrupted(void* self) {
    // Give up on a network or device wait once a stop is forced (finish ran out of patience).
    return static_cast<Recorder*>(self)->stopRequested.load() >= 2;
}

void Recorder::run() {
    bool ok = writer.open(target, launchOptions.recordScale, launchOptions.recordConstantRate, interrupted, this);
    if (ok) {
        while (const QueuedFrame* f = queue.front()) {
            ok = writer.write(*f);
            queue.pop();
            encoded = writer.framesInFile;
            if (!ok) break;
        }
        if (ok) ok = writer.close();
        encoded = writer.framesInFile;
    }
    if (!ok) {
        std::snprintf(failure, sizeof failure, "%s", writer.error());
        // Nothing more is written: what reached the file stays as it is, without a trailer that
        // would claim a complete file.
        writer.abandon();
        failed = true;
        queue.discard();
    }
    workerDone = 1;
}

bool Recorder::start(const char* to) {
    if (state == Running) return true;
    if (state == Closing) join();
    const TargetKind kind = targetKind(to);
    if (kind == TargetKind::Unknown) {
        std::cout << "recording failed: " << (to ? to : "") << ": unknown target" << std::endl;
        postNotice("recording: use .mkv, .mp4, udp://, srt:// or /dev/videoN");
        return false;
    }
    std::snprintf(target, sizeof target, "%s", to);
    queue.reset();
    framesTaken = framesDropped = framesWritten = 0;
    encoded = 0;
    failed = false;
    failure[0] = 0;
    workerDone = 0;
    stopRequested = 0;
    recordings++;
    state = Running;
    worker = std::thread(&Recorder::run, this);
    std::cout << "recording started: " << target << " (scale " << launchOptions.recordScale
              << (launchOptions.recordConstantRate ? ", constant 25 fps" : "") << ")" << std::endl;
    return true;
}

void Recorder::stop() {
    if (state != Running) return;
    stopRequested = 1;
    queue.close();
    state = Closing;
}

void Recorder::chooseTarget() {
    const std::string& given = launchOptions.recordTarget;
    const TargetKind kind = targetKind(given.c_str());
    if (!given.empty() && !targetIsFile(kind)) {
        std::snprintf(target, sizeof target, "%s", given.c_str());
        return;
    }
    // A new file each time, never over an earlier recording (of this run or an earlier one): the
    // launch name, else with -2, -3, ... before its extension, or recordings/loopmixer-DATE-TIME.mkv.
    std::string stem, extension;
    if (!given.empty()) {
        const size_t dot = given.rfind('.');
        stem = given.substr(0, dot);
        extension = given.substr(dot);
    } else {
        mkdir("recordings", 0755);
        char stamp[32];
        const time_t now = time(nullptr);
        strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", localtime(&now));
        stem = std::string("recordings/loopmixer-") + stamp;
        extension = ".mkv";
    }
    struct stat st;
    std::string name = stem + extension;
    for (int n = 2; stat(name.c_str(), &st) == 0 && n < 10000; n++) name = stem + "-" + std::to_string(n) + extension;
    std::snprintf(target, sizeof target, "%s", name.c_str());
}

void Recorder::toggle() {
    if (state == Running) {
        stop();
        return;
    }
    if (state == Closing) join();  // the closing thread may still read target
    char chosen[RecordTargetChars];
    chooseTarget();
    std::memcpy(chosen, target, sizeof chosen);
    start(chosen);
}

void Recorder::submit(const uint16_t* pixels, int stride, uint32_t ticks) {
    if (state != Running) return;
    framesTaken++;
    if (!queue.push(pixels, stride, ticks)) framesDropped++;
}

void Recorder::submitRepeat(uint32_t ticks) {
    if (state != Running) return;
    framesTaken++;
    if (!queue.pushRepeat(ticks)) framesDropped++;
}

void Recorder::join() {
    if (worker.joinable()) worker.join();
    framesWritten = encoded;
    if (failed) {
        std::cout << "recording failed: " << target << ": " << failure << " (" << framesWritten << " frames written)"
                  << std::endl;
        char text[NoticeChars];
        std::snprintf(text, sizeof text, "recording stopped: %.60s", failure);
        postNotice(text);
    } else {
        std::cout << "recording stopped: " << target << ", " << framesTaken << " frames, " << framesDropped
                  << " dropped" << std::endl;
    }
    state = Idle;
}

void Recorder::waitUntilWritten() {
    if (state != Idle) queue.waitEmpty();
}

void Recorder::update() {
    if (state != Idle && workerDone.load()) join();
}

void Recorder::finish() {
    if (state == Idle) return;
    stop();
    // The frames still queued are written; a network or device that does not answer within a few
    // seconds is given up so that quitting never hangs.
    for (int waited = 0; !workerDone.load() && waited < 3000; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!workerDone.load()) stopRequested = 2;
    join();
}
