// data/memories.xml: the sixteen memories as the program writes and reads them. Every value is an
// element of its own, in a fixed order, so that the tag scanner the settings files are read with
// reads it back; names are written as their bytes, like the playlists file's.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "memories/Look.h"

constexpr int MemoryCount = 16;

// The file's bytes for the memories stored (stored[k] 1: looks[k] is memory k + 1).
std::string memoriesText(const Look looks[MemoryCount], const int32_t stored[MemoryCount]);

// Reads the memories of an open file into looks and stored, cleared first. A memory that does not
// read whole, with every value in its range, ends the reading: those before it are kept. Returns
// the number of memories read.
int readMemories(FILE* file, Look looks[MemoryCount], int32_t stored[MemoryCount]);

// True when every name of the look can be written so that it reads back as it is: short enough
// for its element, and without markup or control bytes (nothing is escaped).
bool namesStorable(const Look& look);
