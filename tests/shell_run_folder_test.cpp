// Where the program runs: the folder it is started in when that holds data/, else the user's own,
// made once from the installed default set and never overwritten.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "core/RunFolder.h"

namespace {

class TempFolder {
public:
    TempFolder() {
        char name[] = "/tmp/loopmixer-runfolder-XXXXXX";
        dir = mkdtemp(name);
    }
    ~TempFolder() { std::system(("rm -rf '" + dir + "'").c_str()); }
    void write(const std::string& path, const std::string& text) const {
        std::system(("mkdir -p \"$(dirname '" + dir + "/" + path + "')\"").c_str());
        std::ofstream(dir + "/" + path) << text;
    }
    std::string read(const std::string& path) const {
        std::ifstream in(dir + "/" + path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir;
};

bool isLink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::string linkTarget(const std::string& path) {
    char target[4096];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : "";
}

}  // namespace

TEST(RunFolder, ChoosesTheGivenThenAFolderWithDataThenTheUsersWhenADefaultSetExists) {
    TempFolder withData, without;
    withData.write("data/prefs.xml", "x");
    struct Case {
        const char* given;
        const std::string& current;
        const char* defaultSet;
        const char* expected;  // "current", "user" or a path
    } cases[] = {
        {"/given", withData.dir, "/usr/share/loopmixer", "/given"},
        {"", withData.dir, "/usr/share/loopmixer", "current"},
        {"", without.dir, "/usr/share/loopmixer", "user"},
        // Without a default set to make the user's folder from, start-up reports the missing data/.
        {"", without.dir, "", "current"},
    };
    for (const Case& c : cases) {
        const std::string chosen = chooseRunFolder(c.given, c.current, c.defaultSet, "/home/p/.local/share/loopmixer");
        const std::string expected = std::string(c.expected) == "current" ? c.current
                                     : std::string(c.expected) == "user"  ? "/home/p/.local/share/loopmixer"
                                                                          : c.expected;
        EXPECT_EQ(expected, chosen) << c.given << " " << c.current << " " << c.defaultSet;
    }
}

TEST(RunFolder, TheUsersFolderFollowsXdgDataHomeWhenItIsAbsolute) {
    const char* savedXdg = getenv("XDG_DATA_HOME");
    const std::string saved = savedXdg ? savedXdg : "";
    setenv("HOME", getenv("HOME") ? getenv("HOME") : "/root", 1);
    const std::string home = getenv("HOME");
    setenv("XDG_DATA_HOME", "/data/p", 1);
    EXPECT_EQ("/data/p/loopmixer", userRunFolder());
    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(home + "/.local/share/loopmixer", userRunFolder());
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(home + "/.local/share/loopmixer", userRunFolder());
    if (savedXdg) setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

// Made once: settings copied, the program's files and the demo clips linked; later starts mend only
// the program's own links and never touch the performer's settings or clips.
TEST(RunFolder, IsMadeFromTheDefaultSetOnceAndNeverOverwritten) {
    TempFolder set, home;
    set.write("data/home.png", "picture");
    set.write("data/volter", "font");
    set.write("data/prefs.xml", "<all>default</all>");
    set.write("data/playlists.xml", "<all>demo</all>");
    set.write("videos/plasma.q18", "clip");
    const std::string user = home.dir + "/share/loopmixer";
    std::string error;
    ASSERT_TRUE(prepareRunFolder(user, set.dir, error)) << error;
    EXPECT_EQ("<all>default</all>", home.read("share/loopmixer/data/prefs.xml"));
    EXPECT_FALSE(isLink(user + "/data/prefs.xml"));
    EXPECT_EQ(set.dir + "/data/home.png", linkTarget(user + "/data/home.png"));
    EXPECT_EQ(set.dir + "/videos/plasma.q18", linkTarget(user + "/videos/plasma.q18"));

    // The performer's changes, a lost picture, a dangling font link, a demo clip deleted on purpose.
    home.write("share/loopmixer/data/prefs.xml", "<all>mine</all>");
    unlink((user + "/data/home.png").c_str());
    unlink((user + "/data/volter").c_str());
    ASSERT_EQ(0, symlink("/nowhere/volter", (user + "/data/volter").c_str()));
    unlink((user + "/videos/plasma.q18").c_str());
    set.write("data/prefs.xml", "<all>upgraded default</all>");
    ASSERT_TRUE(prepareRunFolder(user, set.dir, error)) << error;
    EXPECT_EQ("<all>mine</all>", home.read("share/loopmixer/data/prefs.xml"));
    EXPECT_EQ("picture", home.read("share/loopmixer/data/home.png"));
    EXPECT_EQ("font", home.read("share/loopmixer/data/volter"));
    EXPECT_NE(0, access((user + "/videos/plasma.q18").c_str(), F_OK));
}

TEST(RunFolder, AFolderThatCannotBeMadeIsAnErrorWithItsReason) {
    TempFolder set, home;
    set.write("data/prefs.xml", "x");
    home.write("blocked", "a file where the folder should go");
    std::string error;
    EXPECT_FALSE(prepareRunFolder(home.dir + "/blocked/loopmixer", set.dir, error));
    EXPECT_NE(std::string::npos, error.find("cannot make the run folder")) << error;
}
