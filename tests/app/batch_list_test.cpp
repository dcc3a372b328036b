// Batch list files: round trip, line ends, damaged files, entry forms.
#include <gtest/gtest.h>

#include "app/BatchList.h"
#include "platform/MessageBox.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/TestSupport.h"

namespace {

const char* kListText =
    "ZRN BATCH LIST FILE\n"
    "5\n"
    "/out/folder\n"
    "VCD standard\n"
    "reserved string 1\n"
    "reserved string 2\n"
    "3\n"
    "*VCD standard\n"
    "/clips/one.avi\n"
    "/clips/two.avi\n"
    "ZRN BATCH LIST FILE END\n";

std::string Crlf(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c == '\n') result += '\r';
        result += c;
    }
    return result;
}

TEST(BatchListTest, WrittenExactlyAndReadBack) {
    testsupport::TempDir dir;
    BatchListContents contents;
    contents.suppressErrors = 1;
    contents.outputFolder = "/out/folder";
    contents.profileDescription = "VCD standard";
    contents.entries = {"*VCD standard", "/clips/one.avi", "/clips/two.avi"};
    ASSERT_EQ(WriteBatchListFile(dir / "a.btc", contents), BatchListStatus::Ok);
    std::string expected = kListText;
    expected.replace(expected.find("\n5\n"), 3, "\n1\n");
    EXPECT_EQ(testsupport::ReadFile(dir / "a.btc"), expected);

    for (const std::string& text : {std::string(kListText), Crlf(kListText)}) {
        testsupport::WriteFile(dir / "b.btc", text);
        BatchListContents read;
        read.suppressErrors = 0;
        ASSERT_EQ(ReadBatchListFile(dir / "b.btc", read), BatchListStatus::Ok);
        EXPECT_EQ(read.suppressErrors, 1);  // any nonzero value
        EXPECT_EQ(read.outputFolder, contents.outputFolder);
        EXPECT_EQ(read.profileDescription, contents.profileDescription);
        EXPECT_EQ(read.entries, contents.entries);
    }
}

TEST(BatchListTest, LongLinesAndEmptyLines) {
    testsupport::TempDir dir;
    BatchListContents contents;
    contents.outputFolder = "/out";
    const std::string longPath = "/" + std::string(300, 'x') + ".avi";
    contents.entries = {longPath, "", "/b.avi"};
    ASSERT_EQ(WriteBatchListFile(dir / "a.btc", contents), BatchListStatus::Ok);

    BatchListContents read;
    read.outputFolder = "/kept";
    read.profileDescription = "kept description";
    read.entries = {"old"};
    ASSERT_EQ(ReadBatchListFile(dir / "a.btc", read), BatchListStatus::Ok);
    EXPECT_EQ(read.outputFolder, "/out");
    EXPECT_EQ(read.profileDescription, "kept description");  // empty line keeps it
    EXPECT_EQ(read.entries, (std::vector<std::string>{longPath, "/b.avi"}));
}

TEST(BatchListTest, DamagedFilesChangeNothing) {
    testsupport::TempDir dir;
    auto expectStatus = [&](const std::string& text, BatchListStatus status) {
        testsupport::WriteFile(dir / "bad.btc", text);
        BatchListContents read;
        read.outputFolder = "/before";
        read.entries = {"/before.avi"};
        EXPECT_EQ(ReadBatchListFile(dir / "bad.btc", read), status) << text;
        EXPECT_EQ(read.outputFolder, "/before");
        EXPECT_EQ(read.entries, std::vector<std::string>{"/before.avi"});
    };
    std::string text = kListText;
    expectStatus("ZRN BATCH LIST\n" + text.substr(text.find('\n') + 1), BatchListStatus::NotAJobList);
    expectStatus("", BatchListStatus::NotAJobList);
    expectStatus(text.substr(0, text.find("ZRN BATCH LIST FILE END")), BatchListStatus::BadEndTag);
    std::string wrongEnd = text;
    wrongEnd.replace(wrongEnd.find("FILE END"), 8, "FILE STOP");
    expectStatus(wrongEnd, BatchListStatus::BadEndTag);
    std::string tooMany = text;
    tooMany.replace(tooMany.find("\n3\n"), 3, "\n2000000000\n");
    expectStatus(tooMany, BatchListStatus::BadEndTag);
    std::string negative = text;
    negative.replace(negative.find("\n3\n"), 3, "\n-1\n");
    expectStatus(negative, BatchListStatus::BadEndTag);
    std::string oneMore = text;
    oneMore.replace(oneMore.find("\n3\n"), 3, "\n4\n");
    expectStatus(oneMore + "ZRN BATCH LIST FILE END\n", BatchListStatus::BadEndTag);
    std::string tooFew = text;
    tooFew.replace(tooFew.find("\n3\n"), 3, "\n2\n");
    expectStatus(tooFew, BatchListStatus::BadEndTag);
    expectStatus("ZRN BATCH LIST FILE\n1\n", BatchListStatus::BadEndTag);

    BatchListContents read;
    EXPECT_EQ(ReadBatchListFile(dir / "missing.btc", read), BatchListStatus::OpenFailed);
    EXPECT_EQ(WriteBatchListFile(dir / "no" / "such.btc", read), BatchListStatus::WriteFailed);
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(WriteBatchListFile("/dev/full", read), BatchListStatus::WriteFailed);
    }

}

TEST(BatchListTest, EntryFormsAndNames) {
    std::vector<std::string> entries = {"*My profile", "/clips/a.avi", "/p/x.prf", "@next", "*Old.AVI",
                                        "CLIP.AVI",    "clips/CLIP.AVI", "profiles/job.prf", "/P/Y.PRF", "*a"};
    ConvertJobEntries(entries, true);
    EXPECT_EQ(entries, (std::vector<std::string>{" My profile", "     /clips/a.avi", " /p/x.prf", "     @next",
                                                 " Old.AVI", "     CLIP.AVI", "     clips/CLIP.AVI",
                                                 " profiles/job.prf", " /P/Y.PRF", " a"}));
    ConvertJobEntries(entries, false);
    // Every kind survives the round trip; descriptions keep their "*".
    EXPECT_EQ(entries, (std::vector<std::string>{"*My profile", "/clips/a.avi", "/p/x.prf", "@next", "*Old.AVI",
                                                 "CLIP.AVI", "clips/CLIP.AVI", "profiles/job.prf", "/P/Y.PRF", "*a"}));
    EXPECT_EQ(ClassifyJobEntry("clips/CLIP.AVI"), JobEntryKind::Avi);
    EXPECT_EQ(ClassifyJobEntry("*Old.AVI"), JobEntryKind::Description);
    EXPECT_EQ(ClassifyJobEntry("profiles/job.PRF"), JobEntryKind::ProfilePath);
    EXPECT_EQ(ClassifyJobEntry("/clips/a.avi.txt"), JobEntryKind::Other);

    EXPECT_EQ(CheckBatchListName(std::string(256, 'a')), 63238);
    EXPECT_EQ(CheckBatchListName(std::string(255, 'a')), 0);
    EXPECT_EQ(CheckBatchListName("a"), 63239);
}

TEST(BatchListTest, DialogSaveAndLoad) {
    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    BatchListContents shown;
    shown.outputFolder = "/out";
    shown.entries = {"*Profile", "/in/a.avi", "profiles/job.prf"};
    const std::string name = (dir / "jobs.btc").string();
    ASSERT_TRUE(SaveJobList(name, shown));
    EXPECT_EQ(LastBatchListPath, name);
    EXPECT_NE(testsupport::ReadFile(name).find("\n3\n*Profile\n/in/a.avi\nprofiles/job.prf\n"), std::string::npos);

    BatchListContents loaded;
    ASSERT_TRUE(LoadJobList(name, loaded));
    EXPECT_EQ(loaded.entries, shown.entries);
    EXPECT_TRUE(boxes.Texts().empty());

    EXPECT_FALSE(SaveJobList("x", shown));
    EXPECT_FALSE(LoadJobList((dir / "none.btc").string(), loaded));
    EXPECT_FALSE(SaveJobList((dir / "no" / "x.btc").string(), shown));
    ASSERT_EQ(boxes.Texts().size(), 3u);
    EXPECT_EQ(boxes.Texts()[0], "Batch file name unspecified.\nPlease specify valid file name.");
    EXPECT_EQ(boxes.Texts()[1], "Failed to load batch file. Please verify file name and try again.");
    EXPECT_EQ(boxes.Texts()[2], "Error: failed to save data into batch file.\n" + (dir / "no" / "x.btc").string() +
                                    "\nPlease verify file name and try again.");
    EXPECT_EQ(loaded.entries, shown.entries);
    EXPECT_EQ(LastBatchListPath, (dir / "no" / "x.btc").string());
}

// A list that does not fit on the disk is reported and the list saved before stays byte for byte.
TEST(BatchListTest, FullDiskKeepsTheEarlierList) {
    BatchListContents first;
    first.entries = {"*VCD standard", "/clips/one.avi"};
    BatchListContents second = first;
    for (int i = 0; i < 400; ++i) second.entries.push_back("/clips/more/clip" + std::to_string(i) + ".avi");

    testsupport::TempDir dir;
    ASSERT_EQ(WriteBatchListFile(dir / "a.btc", first), BatchListStatus::Ok);
    const std::string earlier = testsupport::ReadFile(dir / "a.btc");
    {
        fulldisk::FileSizeLimit limit(64);
        ASSERT_TRUE(limit.set());
        EXPECT_EQ(WriteBatchListFile(dir / "a.btc", second), BatchListStatus::WriteFailed);
    }
    EXPECT_EQ(testsupport::ReadFile(dir / "a.btc"), earlier);
    EXPECT_EQ(fulldisk::NamesIn(dir.path()), std::set<std::string>{"a.btc"});

    fulldisk::SmallTmpfs disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    ASSERT_EQ(WriteBatchListFile(disk / "a.btc", first), BatchListStatus::Ok);
    disk.FillUp();
    platform::ScriptedMessageBoxes boxes;
    EXPECT_FALSE(SaveJobList((disk / "a.btc").string(), second));
    EXPECT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(testsupport::ReadFile(disk / "a.btc"), earlier);
    EXPECT_EQ(fulldisk::NamesIn(disk.root()), (std::set<std::string>{"a.btc", "filler"}));
}

// A name the file cannot hold as one line (a line break, the end line's text) is refused with a
// message before anything is written: the list saved before still loads as it was.
TEST(BatchListTest, NamesWithLineBreaksAreRefusedAndTheEarlierListStays) {
    testsupport::TempDir dir;
    const std::string name = (dir / "jobs.btc").string();
    BatchListContents first;
    first.entries = {"*VCD standard", "/clips/one.avi"};
    ASSERT_TRUE(SaveJobList(name, first));
    const std::string earlier = testsupport::ReadFile(name);
    for (const std::string& bad : {std::string("/clips/two\n.avi"), std::string("/clips/\rthree.avi"),
                                   std::string("ZRN BATCH LIST FILE END")}) {
        SCOPED_TRACE(bad);
        platform::ScriptedMessageBoxes boxes;
        BatchListContents second = first;
        second.entries.push_back(bad);
        EXPECT_FALSE(SaveJobList(name, second));
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_NE(boxes.Texts()[0].find(bad), std::string::npos);
        second.entries.pop_back();
        second.outputFolder = bad;
        EXPECT_EQ(WriteBatchListFile(name, second), BatchListStatus::Unstorable);
        EXPECT_EQ(testsupport::ReadFile(name), earlier);
        BatchListContents loaded;
        ASSERT_TRUE(LoadJobList(name, loaded));
        EXPECT_EQ(loaded.entries, first.entries);
    }
}

}  // namespace
