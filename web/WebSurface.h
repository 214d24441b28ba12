// The browser surface: --web-port serves a page that plays the instrument from any browser (see
// web/WebServer.h). This is the main loop's side: opening it from the settings, the messages
// that arrived, the state, the clips and the preview picture going out, and the address shown on
// the home screen.
#pragma once
#include <cstdint>
#include <string>

struct SDL_Surface;

// At start-up, after the remote controls: registers the page's addresses and opens the server
// when data/remote.xml or the command line ask for it.
void openWebSurface();
void closeWebSurface();
bool webSurfaceOpen();
// "http://HOST:PORT/" (with "?token=TOKEN" when open to the network); empty when closed.
const std::string& webSurfaceAddress();

// Before the frame's input: runs the messages that arrived since the last frame.
void pollWebSurface();
// The preview's picture of this frame: the clean picture on the Mix screen (the one the recording
// takes), the screen as shown elsewhere. Taken at most 25 times a second, only while a page is
// connected; the later call in a frame does nothing once one was taken.
void takeWebPicture(const uint16_t* pixels, int stride);
// After the frame is presented: the state that changed, the clips list, one missing thumbnail.
void sendWebSurface();

// On the home screen, when open to the network: the address and its QR code in place of the logo.
void drawWebAddress(SDL_Surface* screen);
