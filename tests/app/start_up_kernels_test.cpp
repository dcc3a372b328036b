// "notmmx" on the command line reaches the encoder library: start-up sets it
// up with the plain kernels. (A program of its own: the library is set up
// once per process, by the first document.)
#include <gtest/gtest.h>

#include <memory>

#include "app/CTessmarApp.h"
#include "engine/Fdct.h"
#include "engine/Transform.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "tests/support/QtTestSupport.h"

class StartUpKernels : public qttest::FolderTest {};

TEST_F(StartUpKernels, NotMmxSwitchSelectsThePlainKernelsForTheRun) {
    platform::ScriptedMessageBoxes boxes;
    auto app = std::make_unique<CTessmarApp>();
    ASSERT_TRUE(app->InitInstance({"/notmmx"}));
    EXPECT_EQ(MmxEnabled, 0);
    FdctKernels fdct;
    fdct_init(false, fdct);
    TransformKernels transform;
    transform_init(false, transform);
    EXPECT_EQ(FdctKernelSet.fdct, fdct.fdct);
    EXPECT_EQ(TransformKernelSet.differenceBlock, transform.differenceBlock);
    EXPECT_TRUE(boxes.Shown().empty());
}
