// What the encoder's test files share: scratch folders, reading a file, running the command.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace encodetest {

inline std::string makeFolder() {
    char name[] = "/tmp/encode_test_XXXXXX";
    const char* made = mkdtemp(name);
    return made ? made : "/tmp";
}

inline std::string slurp(const std::string& path) {
    std::string s;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        fclose(f);
    }
    return s;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

#ifdef LOOPMIXER_ENCODER
// Runs loopmixer-encode with args, its output captured in dir.
inline Outcome encoder(const std::string& dir, const std::string& args) {
    std::string cmd = std::string(LOOPMIXER_ENCODER) + " " + args + " >" + dir + "/out.txt 2>" + dir + "/err.txt";
    Outcome r;
    int s = system(cmd.c_str());
    r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    r.out = slurp(dir + "/out.txt");
    r.err = slurp(dir + "/err.txt");
    return r;
}
#endif

}  // namespace encodetest
