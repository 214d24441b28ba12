#include "core/CurrentDirectory.h"

#include <unistd.h>

#include <cstdlib>

std::string currentDirectory() {
    char* d = getcwd(nullptr, 0);
    std::string s = d ? d : "";
    free(d);
    return s;
}
