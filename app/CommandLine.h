// The command line: one table of flags, each with its help text. Arguments are parsed once, before
// start-up, into launchOptions (core/LaunchOptions.h).
#pragma once
#include <string>

// Fills launchOptions from argv. Returns false with a message in error for an unknown flag, a
// missing value or a value out of range.
bool parseCommandLine(int argc, char** argv, std::string& error);
// The usage text printed by --help.
std::string commandLineUsage();
