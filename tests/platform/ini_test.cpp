// The INI module follows the classic profile-string rules.
#include <gtest/gtest.h>

#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "tests/support/TestSupport.h"

using namespace platform;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(Ini, ReadsWithClassicRules) {
    TempDir dir;
    auto file = dir / "TEST.INI";
    WriteFile(file,
              "; comment\r\n"
              "[Other]\r\n"
              "Key=other\r\n"
              "[  zrn-mpeg ]\r\n"
              "  Default_ME_Threads =  7  \r\n"
              "default_me_threads=9\r\n"
              "neg=-12abc\r\n"
              "plus=+5\r\n"
              "letters=abc\r\n"
              "quoted=\"a b\"\r\n"
              "empty=\r\nhuge=99999999999999999999\r\ntiny=-99999999999999999999\r\n");
    EXPECT_EQ(IniReadInt("ZRN-MPEG", "default_ME_threads", 1, file), 7);  // case, trimming, first wins
    EXPECT_EQ(IniReadInt("ZRN-MPEG", "neg", 0, file), -12);
    EXPECT_EQ(IniReadInt("ZRN-MPEG", "plus", 0, file), 5);
    EXPECT_EQ(IniReadInt("ZRN-MPEG", "letters", 3, file), 0);
    EXPECT_EQ(IniReadInt("ZRN-MPEG", "missing", 3, file), 3);
    EXPECT_EQ(IniReadInt("Nowhere", "Key", 4, file), 4);
    EXPECT_EQ(IniReadInt64("ZRN-MPEG", "huge", -5, file), INT64_MAX);
    EXPECT_EQ(IniReadInt64("ZRN-MPEG", "tiny", -5, file), INT64_MIN);
    EXPECT_EQ(IniReadString("zrn-mpeg", "QUOTED", "", file), "a b");
    EXPECT_EQ(IniReadString("zrn-mpeg", "empty", "dflt", file), "");
    EXPECT_EQ(IniReadString("other", "key", "", file), "other");
    EXPECT_EQ(IniReadString("zrn-mpeg", "nokey", "  dflt ", dir / "absent.ini"), "dflt");
}

TEST(Ini, WritesInPlaceAndKeepsOtherLines) {
    TempDir dir;
    auto file = dir / "TEST.INI";
    WriteFile(file,
              "; keep me\r\n"
              "[ZRN-MPEG]\r\n"
              "a=1\r\n"
              "odd line without equals\r\n"
              "B=2\r\n"
              "\r\n"
              "[Next]\r\n"
              "c=3\r\n");
    ASSERT_TRUE(IniWriteString("zrn-mpeg", "b", "20", file));   // replaced in place
    ASSERT_TRUE(IniWriteInt("ZRN-MPEG", "new", -4, file));      // appended to its section
    ASSERT_TRUE(IniWriteString("Fresh", "k", "v", file));        // new section at the end
    EXPECT_EQ(ReadFile(file),
              "; keep me\n"
              "[ZRN-MPEG]\n"
              "a=1\n"
              "odd line without equals\n"
              "b=20\n"
              "new=-4\n"
              "\n"
              "[Next]\n"
              "c=3\n"
              "[Fresh]\n"
              "k=v\n");
    EXPECT_EQ(IniReadInt("ZRN-MPEG", "B", 0, file), 20);
}

TEST(Ini, CreatesFolderAndFileAndFailsCleanly) {
    TempDir dir;
    auto file = ConfigFile("ROZARAZ2.INI");
    EXPECT_EQ(file.parent_path(), dir / "config");
    ASSERT_TRUE(IniWriteInt("ZRN-MPEG", "default_thread_options", 1, file));
    EXPECT_EQ(ReadFile(file), "[ZRN-MPEG]\ndefault_thread_options=1\n");
    // A file in a folder that is a regular file cannot be written.
    testsupport::WriteFile(dir / "plain", "x");
    EXPECT_FALSE(IniWriteString("S", "k", "v", dir / "plain" / "x.ini"));
}

// Names and values that do not stay one "key=value" line are refused with a message before the
// file is touched: a name with a line break cannot slip extra keys into the file.
TEST(Ini, RefusesWhatTheFileCannotHold) {
    TempDir dir;
    auto file = dir / "ROZARAZ2.INI";
    ASSERT_TRUE(IniWriteString("Recent File List", "File1", "/p/a.prf", file));
    const std::string earlier = ReadFile(file);
    platform::ScriptedMessageBoxes boxes;
    EXPECT_FALSE(IniWriteString("Recent File List", "File1", "/p/x\ndisable_mmx=1\n[ZRN-MPEG]\ny.prf", file));
    EXPECT_FALSE(IniWriteString("Recent File List", "File2", "/p/x\r.prf", file));
    for (const char* key : {"a=b", "[x", " "}) EXPECT_FALSE(IniWriteString("Recent File List", key, "v", file));
    EXPECT_FALSE(IniWriteString("Recent\nFile", "k", "v", file));
    EXPECT_EQ(ReadFile(file), earlier);
    ASSERT_EQ(boxes.Texts().size(), 6u);
    EXPECT_NE(boxes.Texts()[0].find("File1"), std::string::npos);
    EXPECT_NE(boxes.Texts()[0].find(file.string()), std::string::npos);
    EXPECT_EQ(IniReadString("Recent File List", "File1", "", file), "/p/a.prf");
    EXPECT_EQ(IniReadInt("ZRN-MPEG", "disable_mmx", 0, file), 0);
    // Whatever else a value holds is kept.
    EXPECT_TRUE(IniWriteString("Recent File List", "File2", "/p/what?=;[]#.prf", file));
    EXPECT_EQ(IniReadString("Recent File List", "File2", "", file), "/p/what?=;[]#.prf");
}
