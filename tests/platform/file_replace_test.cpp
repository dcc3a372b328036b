// Replacing files: the new file takes the old one's place only when complete,
// with the old mode or the umask's, through links; a full disk keeps the old file.
// Work files are taken back after a kill only from processes of this machine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "platform/FileReplace.h"
#include "platform/Ini.h"
#include "platform/System.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/TestSupport.h"

namespace {

using platform::ReplaceFileContents;
using platform::ReplaceStatus;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(FileReplace, NewFileTakesThePlaceWithTheRightMode) {
    testsupport::TempDir dir;
    mode_t previous = ::umask(027);
    EXPECT_EQ(ReplaceFileContents(dir / "new.txt", "one\n"), ReplaceStatus::Ok);
    ::umask(previous);
    EXPECT_EQ(ReadFile(dir / "new.txt"), "one\n");
    EXPECT_EQ(ModeOf(dir / "new.txt"), 0640u);

    // Replacing keeps the mode the user gave the file.
    ::chmod((dir / "new.txt").c_str(), 0604);
    EXPECT_EQ(ReplaceFileContents(dir / "new.txt", "two\n"), ReplaceStatus::Ok);
    EXPECT_EQ(ReadFile(dir / "new.txt"), "two\n");
    EXPECT_EQ(ModeOf(dir / "new.txt"), 0604u);

    // Through a link the linked file is replaced and the link stays a link.
    fs::create_symlink(dir / "new.txt", dir / "link.txt");
    EXPECT_EQ(ReplaceFileContents(dir / "link.txt", "three\n"), ReplaceStatus::Ok);
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(ReadFile(dir / "new.txt"), "three\n");
    EXPECT_EQ(fulldisk::NamesIn(dir.path()), (std::set<std::string>{"link.txt", "new.txt"}));

    int error = 0;
    EXPECT_EQ(ReplaceFileContents(dir / "no" / "such.txt", "x", &error), ReplaceStatus::CreateFailed);
    EXPECT_EQ(error, ENOENT);
}

TEST(FileReplace, FailedWriteLeavesTheEarlierFileByteIdentical) {
    testsupport::TempDir dir;
    const fs::path file = dir / "list.txt";
    WriteFile(file, "earlier contents\n");
    {
        fulldisk::FileSizeLimit limit(64);
        ASSERT_TRUE(limit.set());
        int error = 0;
        EXPECT_EQ(ReplaceFileContents(file, std::string(8192, 'x'), &error), ReplaceStatus::WriteFailed);
        EXPECT_EQ(error, EFBIG);
    }
    EXPECT_EQ(ReadFile(file), "earlier contents\n");

    // Given up before its commit, a replacement leaves nothing behind.
    {
        platform::FileReplace replace(file);
        ASSERT_TRUE(replace.Open());
        std::fputs("half of it", replace.Stream());
    }
    EXPECT_EQ(ReadFile(file), "earlier contents\n");
    EXPECT_EQ(fulldisk::NamesIn(dir.path()), std::set<std::string>{"list.txt"});
}

TEST(FileReplace, FullDiskLeavesTheEarlierFileByteIdentical) {
    fulldisk::SmallTmpfs disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    WriteFile(disk / "list.txt", "earlier contents\n");
    disk.FillUp();
    EXPECT_NE(ReplaceFileContents(disk / "list.txt", std::string(8192, 'x')), ReplaceStatus::Ok);
    EXPECT_EQ(ReadFile(disk / "list.txt"), "earlier contents\n");
    EXPECT_EQ(fulldisk::NamesIn(disk.root()), (std::set<std::string>{"filler", "list.txt"}));
}

// A work file and a work folder of a process that ended on this machine go; the
// same record made on another machine (a home folder both share) leaves them where
// they are. What a record names through a link put in the work folder's place of
// its VIDEO_TS, or through "..", is the user's and stays; the work files still go.
TEST(WorkFiles, OnlyEndedProcessesOfThisMachineLoseTheirWorkFilesAndOnlyTheirOwn) {
    for (const std::string row : {"another machine", "this machine", "VIDEO_TS a link to the user's DVD folder",
                                  "a line naming the user's file through .."}) {
        SCOPED_TRACE(row);
        testsupport::TempDir dir;
        fs::create_directories(dir / "out");
        fs::create_directories(dir / "dvd");
        std::map<fs::path, std::string> users;
        for (const fs::path& file :
             {dir / "user" / "a.txt", dir / "dvd" / "VIDEO_TS.IFO", dir / "dvd" / "VTS_01_1.VOB"}) {
            fs::create_directories(file.parent_path());
            WriteFile(file, users[file] = "the user's " + file.filename().string());
        }
        const pid_t child = fork();
        if (child == 0) {
            const std::string work = platform::CreateWorkFolder((dir / "out").string(), "VIDEO_TS", nullptr);
            const std::string titles = work + "/VIDEO_TS";
            platform::NoteWorkPath(titles);
            bool made = !platform::CreateFileBeside((dir / "out" / "out.mpg").string(), nullptr).empty() &&
                        !work.empty() && fs::create_directory(titles);
            for (const char* name : {"VIDEO_TS.IFO", "VTS_01_1.VOB"}) {
                platform::NoteWorkPath(titles + "/" + name);
                WriteFile(titles + "/" + name, "work");
            }
            _exit(made ? 0 : 1);
        }
        int status = 1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_EQ(status, 0);
        auto left = [&] {
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(dir / "out")) names.push_back(entry.path().filename());
            return names;
        };
        ASSERT_EQ(left().size(), 2u);
        const fs::path work = dir / "out" / (left()[0].find("VIDEO_TS") == 0 ? left()[0] : left()[1]);
        for (const auto& record : fs::directory_iterator(platform::ConfigDir() / "work-files")) {
            std::string text = ReadFile(record.path());
            if (text.find("\t" + std::to_string(child) + "\t") == std::string::npos) continue;
            const size_t host = text.find('\t') + 1;
            if (row == "another machine") text.replace(host, text.find('\t', host) - host, "elsewhere");
            if (row.find("..") != std::string::npos)
                text += "N " + (work / ".." / ".." / "user" / "a.txt").string() + "\n";
            WriteFile(record.path(), text);
        }
        if (row.find("link") != std::string::npos) {
            fs::remove_all(work / "VIDEO_TS");
            fs::create_directory_symlink(dir / "dvd", work / "VIDEO_TS");
        }
        platform::RemoveStaleWorkFiles();
        EXPECT_EQ(left().size(), row == "another machine" ? 2u : 0u) << testing::PrintToString(left());
        for (const auto& [file, bytes] : users) EXPECT_EQ(ReadFile(file), bytes) << file;
    }
}

// A pipe, endless devices, and a link or another's file at this process's record name in the record folder: the
// clean-up and the hold neither wait nor read without end, the record takes a free name, the planted ones stay.
TEST(WorkFiles, SpecialFilesInTheRecordFolderAreNeitherReadNorWritten) {
    testsupport::TempDir dir;
    const fs::path records = platform::ConfigDir() / "work-files";
    const std::string first = platform::CreateWorkFile(dir.path().string(), "work", nullptr);
    const std::string own = fs::directory_iterator(records)->path().filename();  // this process's record name
    platform::ForgetWorkPath(first), fs::remove(first), fs::create_directories(records);
    ASSERT_EQ(::mkfifo((records / "pipe").c_str(), 0600), 0);
    for (const char* device : {"zero", "urandom"}) fs::create_symlink(fs::path("/dev") / device, records / device);
    WriteFile(dir / "target", "the user's file");
    fs::create_symlink(dir / "target", records / own);
    WriteFile(records / (own + ".1"), "someone's file");
    ::alarm(20);  // a hang fails the test
    platform::RemoveStaleWorkFiles();
    EXPECT_TRUE(platform::HoldWorkPaths({(dir / "stream").string()}, nullptr, nullptr, nullptr));
    const std::string work = platform::CreateWorkFile(dir.path().string(), "work", nullptr);
    ::alarm(0);
    EXPECT_EQ(ReadFile(dir / "target"), "the user's file");
    EXPECT_EQ(ReadFile(records / (own + ".1")), "someone's file");
    EXPECT_NE(ReadFile(records / (own + ".2")).find("N " + work + "\n"), std::string::npos);
    platform::ReleaseWorkPaths(), platform::ForgetWorkPath(work);
    EXPECT_FALSE(fs::exists(records / (own + ".2")));
    EXPECT_EQ(fulldisk::NamesIn(dir.path()), (std::set<std::string>{"config", "target", fs::path(work).filename()}));
}

}  // namespace
