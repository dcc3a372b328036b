// Saving a profile on a full disk: the save reports the failure and the
// profile saved before stays byte for byte as it was.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::ReadFile;

class ProfileSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        BatchMode = 0;
        ReadProfile("+");
        ASSERT_EQ(ProfileLoaded, 1);
        boxes.Clear();
    }

    // Saves the built-in settings, then changed ones that cannot be written.
    void SaveTwiceSecondFails(const std::filesystem::path& file, const std::function<void()>& makeFull) {
        ASSERT_EQ(SaveProfileFile(file.c_str()), 1);
        const std::string earlier = ReadFile(file);
        EncoderSettings.profileDescription = "changed after the first save";
        EncoderSettings.outputFileName = std::string(255, 'o');
        makeFull();
        EXPECT_EQ(SaveProfileFile(file.c_str()), 0);
        EXPECT_EQ(boxes.Texts(),
                  std::vector<std::string>{"Error: failed to save parameters \nin file  File " + file.string() + " "});
        EXPECT_EQ(ReadFile(file), earlier);
    }

    platform::ScriptedMessageBoxes boxes;
};

TEST_F(ProfileSaveTest, FileSizeLimitKeepsTheEarlierProfile) {
    testsupport::TempDir dir;
    std::unique_ptr<fulldisk::FileSizeLimit> limit;
    SaveTwiceSecondFails(dir / "job.prf", [&] {
        limit = std::make_unique<fulldisk::FileSizeLimit>(64);
        ASSERT_TRUE(limit->set());
    });
    limit.reset();
    EXPECT_EQ(fulldisk::NamesIn(dir.path()), std::set<std::string>{"job.prf"});
}

TEST_F(ProfileSaveTest, FullTmpfsKeepsTheEarlierProfile) {
    fulldisk::SmallTmpfs disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    SaveTwiceSecondFails(disk / "job.prf", [&] { disk.FillUp(); });
    EXPECT_EQ(fulldisk::NamesIn(disk.root()), (std::set<std::string>{"filler", "job.prf"}));
}

}  // namespace
