// The OSC side of the network: a UDP socket on one address (127.0.0.1 unless the performer opts
// in to another) read once per frame, and the feedback targets the state is sent to.
#pragma once
#include <cstdint>
#include <string>

#include "remote/OscAddresses.h"

constexpr int MaxOscPacketsPerFrame = 64;
constexpr int MaxOscFeedbackTargets = 8;
constexpr int MaxOscPacketBytes = 8192;

// Listens on host:port (port 0 picks a free one). Returns false, with a log line and a notice,
// when the address cannot be used.
bool openOscPort(const std::string& host, int port);
void closeOscPort();
bool oscPortOpen();
int oscPortNumber();  // the port listened on, 0 when closed

// "HOST:PORT"; false (with a log line) when it does not parse or the table is full. A new target
// gets the whole state at the next send.
bool addOscFeedbackTarget(const std::string& hostPort);
void clearOscFeedbackTargets();

// Reads at most MaxOscPacketsPerFrame datagrams and runs their messages.
void pollOscPort();
// Sends the feedback values that changed (all of them to a new target).
void sendOscFeedbackNow();
// /loopmixer/refresh: the next send takes every value to every target, and to the sender of the
// message being handled when it is not one of them.
void requestOscRefresh();
// Sends one message of several values to every feedback target at once (values that are not one
// state each, like the sound's band levels and kicks). types: 'i' and 'f' only.
void sendOscMessage(const char* address, const char* types, const OscArg* args);
