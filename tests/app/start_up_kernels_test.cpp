// "notmmx" on the command line reaches the encoder library: the program's
// start-up sets the library up with the plain kernels. (A program of its own:
// the library is set up once per process, by the first document.)
#include <gtest/gtest.h>

#include <memory>

#include "app/CTessmarApp.h"
#include "engine/Fdct.h"
#include "engine/Transform.h"
#include "job/EncoderSettings.h"
#include "platform/MessageBox.h"
#include "tests/support/QtTestSupport.h"

namespace {

class StartUpKernels : public qttest::FolderTest {
protected:
    platform::ScriptedMessageBoxes boxes;
};

TEST_F(StartUpKernels, NotMmxSwitchSelectsThePlainKernelsForTheRun) {
    auto app = std::make_unique<CTessmarApp>();
    ASSERT_TRUE(app->InitInstance({"/notmmx"}));
    EXPECT_EQ(EncoderSettings.disableMmx, 1);
    EXPECT_EQ(MmxEnabled, 0);
    FdctKernels fdct;
    fdct_init(false, fdct);
    EXPECT_EQ(FdctKernelSet.fdct, fdct.fdct);
    EXPECT_EQ(FdctKernelSet.pretestLevels, fdct.pretestLevels);
    TransformKernels transform;
    transform_init(false, transform);
    EXPECT_EQ(TransformKernelSet.differenceBlock, transform.differenceBlock);
    EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
