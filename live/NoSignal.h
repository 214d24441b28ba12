// The picture a live deck shows while its source gives nothing: dark, with the words "NO SIGNAL".
#pragma once
#include <cstdint>

const uint16_t* noSignalPicture();  // 320x240 RGB565, made at the first call
