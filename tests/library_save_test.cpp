// Replacing a file safely: a failed save at any step leaves the old file byte for byte, leaves no
// temporary file behind and says why in one log line.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "library/Mix.h"
#include "library/SafeSave.h"
#include "library_support.h"

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class SafeSave : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.path.empty()); }
    std::string at(const std::string& name) const { return dir.path + "/" + name; }

    ScratchDir dir;
};

const std::string OldContent = "old content\nkept\n";

}  // namespace

TEST_F(SafeSave, ReplacesTheFileAndLeavesNothingElse) {
    writeWholeFile(at("file.xml"), OldContent);
    LogCapture log;
    EXPECT_TRUE(saveFileSafely(at("file.xml"), "new"));
    EXPECT_EQ(readWholeFile(at("file.xml")), "new");
    EXPECT_TRUE(saveFileSafely(at("created.xml"), std::string("a\0b", 3)));
    EXPECT_EQ(readWholeFile(at("created.xml")), std::string("a\0b", 3));
    EXPECT_FALSE(exists(at("file.xml.tmp")));
    EXPECT_FALSE(exists(at("created.xml.tmp")));
    EXPECT_EQ(log.text(), "");
}

TEST_F(SafeSave, MissingFolderFailsWithOneLine) {
    LogCapture log;
    EXPECT_FALSE(saveFileSafely(at("nowhere/file.xml"), "new"));
    EXPECT_FALSE(exists(at("nowhere")));
    EXPECT_EQ(countOf(log.text(), "\n"), 1);
    EXPECT_EQ(log.text().rfind("can't save " + at("nowhere/file.xml") + ": create failed", 0), 0u)
        << log.text();
}

TEST_F(SafeSave, WriteFailureKeepsTheOldFile) {
    writeWholeFile(at("file.xml"), OldContent);
    // A file size limit makes the write itself fail (EFBIG), for root as for anyone.
    bool saved_ok;
    std::string text;
    {
        FileSizeLimit limit(8);
        ASSERT_TRUE(limit.ok);
        LogCapture log;
        saved_ok = saveFileSafely(at("file.xml"), std::string(4096, 'n'));
        text = log.text();
    }

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(readWholeFile(at("file.xml")), OldContent);
    EXPECT_FALSE(exists(at("file.xml.tmp")));
    EXPECT_EQ(countOf(text, "\n"), 1);
    EXPECT_NE(text.find("write failed"), std::string::npos) << text;
}

TEST_F(SafeSave, RenameFailureKeepsWhatIsThere) {
    // A folder where the file should be: everything but the final rename succeeds.
    mkdir(at("file.xml").c_str(), 0777);
    writeWholeFile(at("file.xml/inside"), OldContent);
    LogCapture log;
    EXPECT_FALSE(saveFileSafely(at("file.xml"), "new"));
    EXPECT_EQ(readWholeFile(at("file.xml/inside")), OldContent);
    EXPECT_FALSE(exists(at("file.xml.tmp")));
    EXPECT_NE(log.text().find("rename failed"), std::string::npos) << log.text();
}

// A real small disk: filled up, then made read-only. Needs the right to mount, which CI's root has;
// elsewhere the test is skipped.
TEST_F(SafeSave, FullAndReadOnlyDisksKeepTheOldFile) {
    const std::string disk = at("disk");
    mkdir(disk.c_str(), 0777);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    const std::string file = disk + "/playlists.xml";
    writeWholeFile(file, OldContent);
    // Fill every remaining block.
    {
        FILE* filler = fopen((disk + "/filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        std::string chunk(1024, 'f');
        while (fwrite(chunk.data(), 1, chunk.size(), filler) == chunk.size() && fflush(filler) == 0) {
        }
        fclose(filler);
    }
    {
        LogCapture log;
        EXPECT_FALSE(saveFileSafely(file, std::string(16384, 'n')));
        EXPECT_EQ(countOf(log.text(), "\n"), 1) << log.text();
        EXPECT_NE(log.text().find("No space left"), std::string::npos) << log.text();
    }
    EXPECT_EQ(readWholeFile(file), OldContent);
    EXPECT_FALSE(exists(file + ".tmp"));

    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
    {
        LogCapture log;
        EXPECT_FALSE(saveFileSafely(file, "new"));
        EXPECT_NE(log.text().find("create failed (Read-only file system)"), std::string::npos)
            << log.text();
    }
    EXPECT_EQ(readWholeFile(file), OldContent);
}

TEST_F(SafeSave, PlaylistsSaveWithoutADataFolderLeavesTheMixAndLogsWhy) {
    freshMix();
    mix.playlistCount = 1;
    setPlaylist(0, "kept", {"a.q17"});
    LogCapture log;
    mix.saveXML();
    EXPECT_EQ(log.text().rfind("saveXML()\ncan't save " + dir.path + "/data/playlists.xml", 0), 0u)
        << log.text();
    EXPECT_EQ(countOf(log.text(), "\n"), 2);
    EXPECT_EQ(mix.playlistCount, 1);
    EXPECT_EQ(mix.playlists[0].name, "kept");
}

TEST_F(SafeSave, KeepsThePermissionsAndReplacesTheTargetOfALink) {
    writeWholeFile(at("file.xml"), OldContent);
    chmod(at("file.xml").c_str(), 0640);
    mkdir(at("real").c_str(), 0777);
    writeWholeFile(at("real/target.xml"), OldContent);
    chmod(at("real/target.xml").c_str(), 0604);
    ASSERT_EQ(symlink("real/target.xml", at("link.xml").c_str()), 0);

    EXPECT_TRUE(saveFileSafely(at("file.xml"), "new"));
    EXPECT_TRUE(saveFileSafely(at("link.xml"), "through"));

    struct stat info;
    ASSERT_EQ(stat(at("file.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ASSERT_EQ(lstat(at("link.xml").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays a link";
    EXPECT_EQ(readWholeFile(at("real/target.xml")), "through");
    ASSERT_EQ(stat(at("real/target.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_FALSE(exists(at("real/target.xml.tmp")));
}
