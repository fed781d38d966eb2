#include <gtest/gtest.h>

#include "platform/os.h"

namespace juxhid::test {
namespace {

TEST(MessageBox, TellsCaptionAndTextOnOneLineOfStandardError) {
    ::testing::internal::CaptureStderr();
    os::messageBox("Error:Out of Memory", "malloc error");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "malloc error: Error:Out of Memory\n");
}

}  // namespace
}  // namespace juxhid::test
