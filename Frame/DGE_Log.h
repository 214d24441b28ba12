// The console vendor's printf-style logger. It has no constructor, so that its zeroed storage
// (mode 0, standard output) is usable while the other globals are being constructed.
#pragma once
#include <cstdio>

class DGE_Log {
public:
    int mode;    // -1 off, 0 standard output, 1 the file dge_log.txt
    FILE* file;

    void writeLog(const char* format, ...);
    void setMode(int mode);
    ~DGE_Log();
};

extern DGE_Log g_cDGELog;
