#include "app/MainLoop.h"

#include "app/ProjectorControls.h"
#include "core/AppState.h"
#include "core/Platform.h"
#include "core/TvOut.h"
#include "core/Controller.h"
#include "core/FrameBuffers.h"
#include "core/LaunchOptions.h"
#include "controls/Screens.h"
#include "draw/HintLine.h"
#include "draw/NoticeLine.h"
#include "draw/Text.h"
#include "library/Mix.h"
#include "memories/Memories.h"
#include "memories/MemoriesPage.h"
#include "live/LiveInput.h"
#include "mixer/BeatLock.h"
#include "mixer/Compositor.h"
#include "mixer/Decks.h"
#include "mixer/Options.h"
#include "record/Recorder.h"
#include "remote/Remote.h"
#include "tempo/TempoClock.h"
#include "tracks/Track.h"
#include "web/WebSurface.h"

int64_t framesRun = 0;
volatile sig_atomic_t terminateRequested = 0;

// The recorder takes the clean performance picture on the Mix screen (unless the screen as shown is
// asked for); this frame's has been handed over when cleanPictureTaken is set.
static bool cleanPictureTaken = false;
static const uint16_t blackPicture[FramePixels] = {};

static bool recordingCleanPicture() { return recorder.recording() && !launchOptions.recordAsShown; }

static void recordScreen() {
    recorder.submit(static_cast<const uint16_t*>(screenSurface->pixels), screenSurface->pitch / 2, uint32_t(lastFrameTick));
}

// After the picture is presented, loading goes on in what the frame leaves of its interval, less
// a margin for the scheduler: pictures keep their pace however much is loaded.
constexpr uint64_t LoadingMarginUs = 3000;
static uint64_t frameStartUs = 0;

static int16_t frameInterval() {
    int fps = decks.targetFps + 1;
    return int16_t(1000 / (fps > 0 ? fps : 1));
}

uint32_t msUntilNextFrame() {
    int32_t elapsed = int32_t(platform::ticks()) - lastFrameTick;
    int32_t wait = frameInterval() + 1 - elapsed;
    return wait > 0 ? uint32_t(wait) : 0;
}

static void loadInSpareTime() {
    const uint64_t budget = uint64_t(frameInterval() + 1) * 1000;
    if (budget <= LoadingMarginUs) return;
    const uint64_t deadline = frameStartUs + budget - LoadingMarginUs;
    while (mix.loading && platform::microseconds() < deadline) mix.continueLoading();
}

// The clean mixed picture of this frame, before overlay and chooser, to what shows it outside the
// window: the projector always, the browser's preview unless it follows the screen as shown.
static void passCleanPicture(const uint16_t* pixels, int stride) {
    projectorPicture(pixels, stride);
    if (!launchOptions.recordAsShown) takeWebPicture(pixels, stride);
}

static void drawPerformance() {
    mix.continueLoading();  // the least a frame loads, however busy it is
    const bool clean = recordingCleanPicture();
    if (mix._totalTracks == 0) {
        SDL_FillRect(screenSurface, nullptr, 0);
        if (clean) recorder.submit(blackPicture, FrameWidth, uint32_t(lastFrameTick));
        passCleanPicture(blackPicture, FrameWidth);
        cleanPictureTaken = clean;
    } else {
        Deck& d1 = decks.decks[1];
        Deck& d0 = decks.decks[0];
        Track& t1 = tracks[d1.track];
        if (t1.ready == Ready) {
            t1.decodeFrame(1, d1.position, decks.blendMode);
            if (decks.blendMode != 0 && d0.track != d1.track) tracks[d0.track].decodeFrame(0, d0.position, decks.blendMode);
            const Deck& sel = decks.decks[decks.selectedDeck];
            composite(decks, sel.position, tracks[sel.track].frameCount, options.showTopLine);
            if (clean) recordScreen();
            passCleanPicture(static_cast<const uint16_t*>(screenSurface->pixels), screenSurface->pitch / 2);
            cleanPictureTaken = clean;
            if (appState.mode == ModeA) decks.advance();
            else decks.advanceModeB();
            decks.drawOverlay();

            // Only while a run is under way: a run cut at the 50th slot ends with files left over,
            // and a finished load must not look unfinished for ever.
            const int32_t loaded = mix.loadPosition;
            const int32_t total = mix.playlists[mix.loadingPlaylist].trackCount;
            if (mix.loading && loaded < total && options.showTopLine)
                fillRect(screenSurface, 0, 7, loaded * 320 / total, 1, 0xFFFF);
        } else if (clean) {
            // The picture of the last decoded frame stays on the screen, and in the recording.
            if (recorder.framesTaken > 0) recorder.submitRepeat(uint32_t(lastFrameTick));
            else recordScreen();
            cleanPictureTaken = true;
        }
    }
    drawMemoryNote(screenSurface);
    if (appState.mixView == ChoosingPlaylist) drawChooser(screenSurface);
}

// While recording, a small red square beside the frame-rate box of the overlay (on the Mix screen
// only when the overlay is shown, so that a clean screen stays clean; on the menus always).
static void drawRecordingMark() {
    if (!recorder.recording()) return;
    if (appState.screen == Screen::Mix && !decks.overlayShown) return;
    fillRect(screenSurface, 286, 9, 6, 6, 0xF800);
}

// Hands this frame to the recorder: the screen as shown, unless the clean picture went already.
static void recordFrame() {
    if (recorder.recording() && !cleanPictureTaken && screenSurface) recordScreen();
    cleanPictureTaken = false;
    recorder.update();
}

int runFrame() {
    if (terminateRequested) running = 0;
    const int32_t now = int32_t(platform::ticks());
    currentTick = now;
    const int32_t elapsed = now - lastFrameTick;
    if (elapsed <= frameInterval()) {
        // Between frames the input is still read, so that a tap is timed to the moment it came
        // rather than to the next frame.
        platform::pumpInput();
        return running;
    }
    measuredFps = 1000 / elapsed;
    lastFrameTick = now;
    framesRun++;
    frameStartUs = platform::microseconds();

    decks.trackCount = mix._totalTracks;
    pollWebSurface();
    controller.poll();
    controller.dispatch();
    memories.step(now);
    beatLock.step(now);
    // The next frames' keys type while the keyboard names a playlist.
    platform::setTextEntry(appState.screen == Screen::Editor && mix.editorView == NewPlaylistView);

    switch (appState.screen) {
    case Screen::Splash:
        splashScreen.draw(screenSurface);
        if (splashScreen.countdown == 0) {
            appState.screen = Screen::Home;
            mix.reloadIfChanged();
        }
        break;
    case Screen::Home:
        homeScreen.draw(screenSurface);
        drawWebAddress(screenSurface);
        break;
    case Screen::Editor: drawEditor(mix, screenSurface, uiTexture); break;
    case Screen::Mix: drawPerformance(); break;
    case Screen::Options: drawOptions(options, screenSurface, uiTexture); break;
    case Screen::VideoOut: videoOutScreen.draw(screenSurface, uiTexture); break;
    default: break;
    }
    drawHintLine(screenSurface);
    stepLiveInput();
    drawNoticeLine(screenSurface);
    takeWebPicture(static_cast<const uint16_t*>(screenSurface->pixels), screenSurface->pitch / 2);
    recordFrame();
    drawRecordingMark();
    platform::present();
    projectorAfterPresent();
    sendRemoteFeedback();
    sendWebSurface();
    if (appState.screen == Screen::Mix) loadInSpareTime();
    return running;
}
