// The kernel's errno values as the core's error numbers: unplug, denial and
// absence told apart the way the core tests them.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/hidraw/errno_translation.h"
#include "platform/platform.h"

namespace juxhid::hidraw {
namespace {

using namespace juxhid::platform;

TEST(ErrnoTranslation, UnplugIsDeviceNotConnectedForReadsAndWrites) {
    EXPECT_EQ(translateErrno(EIO, Call::Read), kErrorDeviceNotConnected);
    EXPECT_EQ(translateErrno(ENODEV, Call::Read), kErrorDeviceNotConnected);
    EXPECT_EQ(translateErrno(ENODEV, Call::Write), kErrorDeviceNotConnected);
    EXPECT_EQ(translateErrno(ESHUTDOWN, Call::Write), kErrorDeviceNotConnected);
}

TEST(ErrnoTranslation, TransferErrorOfAWriteIsNoUnplug) {
    EXPECT_EQ(translateErrno(EIO, Call::Write), kErrorGenFailure);
    EXPECT_EQ(translateErrno(EPIPE, Call::Write), kErrorGenFailure);
}

TEST(ErrnoTranslation, DenialAndAbsence) {
    for (Call call : {Call::Open, Call::Read, Call::Write}) {
        EXPECT_EQ(translateErrno(EACCES, call), kErrorAccessDenied);
        EXPECT_EQ(translateErrno(EPERM, call), kErrorAccessDenied);
        EXPECT_EQ(translateErrno(ENOENT, call), kErrorFileNotFound);
        EXPECT_EQ(translateErrno(ENOTDIR, call), kErrorPathNotFound);
    }
}

TEST(ErrnoTranslation, NodeWhoseDeviceWentIsNotFoundWhenOpened) {
    EXPECT_EQ(translateErrno(ENODEV, Call::Open), kErrorFileNotFound);
    EXPECT_EQ(translateErrno(ENXIO, Call::Open), kErrorFileNotFound);
    EXPECT_EQ(translateErrno(EIO, Call::Open), kErrorGenFailure);
}

}  // namespace
}  // namespace juxhid::hidraw
