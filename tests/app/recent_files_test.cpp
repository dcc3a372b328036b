// The recent-file list: order, removal, full paths and menu texts.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/RecentFileList.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(std::initializer_list<const char*> names, size_t size) {
    std::vector<std::string> result(names.begin(), names.end());
    result.resize(size);
    return result;
}

TEST(RecentFileListTest, AddMovesToTopAndDropsTheOldest) {
    RecentFileList list(3);
    list.Add("/x/a.prf");
    list.Add("/x/b.prf");
    list.Add("/x/c.prf");
    EXPECT_EQ(list.Entries(), Names({"/x/c.prf", "/x/b.prf", "/x/a.prf"}, 3));
    list.Add("/x/a.prf");
    EXPECT_EQ(list.Entries(), Names({"/x/a.prf", "/x/c.prf", "/x/b.prf"}, 3));
    list.Add("/x/d.prf");
    EXPECT_EQ(list.Entries(), Names({"/x/d.prf", "/x/a.prf", "/x/c.prf"}, 3));

    list.Remove(1);
    EXPECT_EQ(list.Entries(), Names({"/x/d.prf", "/x/c.prf"}, 3));
    list.Remove(7);  // no such entry
    EXPECT_EQ(list.Entries(), Names({"/x/d.prf", "/x/c.prf"}, 3));
}

TEST(RecentFileListTest, RemoveByNameIgnoresCaseAndCatchesNeighbours) {
    RecentFileList list(5);
    list.Add("/x/b.prf");
    list.Add("/x/A.PRF");
    list.Add("/x/a.prf");
    list.RemoveByName("/X/a.prf");
    EXPECT_EQ(list.Entries(), Names({"/x/b.prf"}, 5));
}

TEST(RecentFileListTest, ReplaceMostRecentKeepsTheOthersInOrder) {
    RecentFileList list(4);
    for (const char* name : {"/x/4", "/x/3", "/x/2", "/x/1"}) list.Add(name);
    list.ReplaceMostRecent("/x/new");
    EXPECT_EQ(list.Entries(), Names({"/x/new", "/x/2", "/x/3", "/x/4"}, 4));

    RecentFileList partial(5);
    partial.Add("/x/2");
    partial.Add("/x/1");
    partial.ReplaceMostRecent("/x/new");
    EXPECT_EQ(partial.Entries(), Names({"/x/new", "/x/2"}, 5));
}

// The working folder changes with every dropped file and batch: a file named
// relative to it is listed by its full path; a description stays as it is.
TEST(RecentFileListTest, RelativeFileNamesAreKeptAsFullPaths) {
    testsupport::TempDir dir;
    fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const std::string work = fs::current_path().string();
    fs::create_directories("clips");
    testsupport::WriteFile("clips/a.prf", "x");
    RecentFileList list(5);
    list.Add("clips/../clips/a.prf");
    list.Add(work + "/b.prf");
    list.Add("VCD high");
    fs::current_path(previous);
    EXPECT_EQ(list.Entries(), Names({"VCD high", (work + "/b.prf").c_str(), (work + "/clips/a.prf").c_str()}, 5));
}

// One profile is listed once, however it was named: a relative and a full
// name, a link to it, its description (the lookup names its file).
TEST(RecentFileListTest, OneProfileIsListedOnceUnderAnyOfItsNames) {
    testsupport::TempDir dir;
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const std::string work = fs::current_path().string();
    testsupport::WriteFile("sport.prf", "x");
    testsupport::WriteFile("news.prf", "x");
    fs::create_symlink(work + "/sport.prf", "link.prf");
    RecentFileList list(5);
    list.SetDescriptionLookup([&](const std::string& d) { return d == "Sport" ? work + "/sport.prf" : std::string(); });
    list.Add("sport.prf");
    list.Add(work + "/news.prf");
    list.Add(work + "/sport.prf");
    EXPECT_EQ(list.Entries(), Names({(work + "/sport.prf").c_str(), (work + "/news.prf").c_str()}, 5));
    list.Add(work + "/link.prf");
    list.Add("Sport");
    list.Add("Unknown");
    EXPECT_EQ(list.Entries(), Names({"Unknown", "Sport", (work + "/news.prf").c_str()}, 5));
    list.Add(work + "/sport.prf");
    fs::current_path(previous);
    EXPECT_EQ(list.Entries(), Names({(work + "/sport.prf").c_str(), "Unknown", (work + "/news.prf").c_str()}, 5));
}

TEST(RecentFileListTest, SavedAndReadBack) {
    testsupport::TempDir dir;
    RecentFileList list(8);
    // Blanks and quotes at the edges are part of the names.
    for (const char* name : {"/x/a.prf", " /x/lead.prf", "/x/trail.prf ", "\"/x/q.prf\"", "'/x/s.prf'", "\"", "/x/b.prf"})
        list.Add(name);
    list.Add("/x/c\ndisable_mmx=1.prf");  // a name the file cannot hold is not taken
    ASSERT_TRUE(list.WriteList(dir / "RADUDUR.INI"));
    EXPECT_EQ(testsupport::ReadFile(dir / "RADUDUR.INI").find("disable_mmx"), std::string::npos);
    RecentFileList read(8);
    read.ReadList(dir / "RADUDUR.INI");
    EXPECT_EQ(read.Entries(), list.Entries());
    // A shorter list of a later start takes the newest ones.
    RecentFileList shorter(1);
    shorter.ReadList(dir / "RADUDUR.INI");
    EXPECT_EQ(shorter.Entries(), Names({"/x/b.prf"}, 1));
}

TEST(RecentFileListTest, MenuLabels) {
    RecentFileList list(11);
    EXPECT_TRUE(RecentFileMenuLabels(list).empty());
    for (int i = 11; i >= 1; --i) list.Add("/p/" + std::to_string(i));
    list.Add("/p/R&D.prf");
    auto labels = RecentFileMenuLabels(list);
    ASSERT_EQ(labels.size(), 11u);
    EXPECT_EQ(labels[0], "&1 /p/R&&D.prf");
    EXPECT_EQ(labels[1], "&2 /p/1");
    EXPECT_EQ(labels[9], "&0 /p/9");
    EXPECT_EQ(labels[10], "&1 /p/10");
}

}  // namespace
