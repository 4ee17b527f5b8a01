#include "platform/core/RecorderTryObjC.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace corvessa;

namespace {
struct Silent : std::exception {
    const char* what() const noexcept override { return ""; }
};
} // namespace

TEST(RecorderTryObjC, NormalReturnLeavesErrorUntouched)
{
    int ran = 0;
    RecorderError err{"keep", 7, "me"};
    EXPECT_TRUE(recorderTry([&] { ++ran; }, &err));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(err, (RecorderError{"keep", 7, "me"}));
}

TEST(RecorderTryObjC, ExceptionBecomesAnError)
{
    RecorderError err;
    EXPECT_FALSE(recorderTry([] { throw std::runtime_error("append after finish"); }, &err));
    EXPECT_EQ(err.domain, QStringLiteral("ObjCException"));
    EXPECT_EQ(err.code, 1);
    EXPECT_EQ(err.message, QStringLiteral("append after finish"));
}

TEST(RecorderTryObjC, NoMessageGivesTheExceptionsName)
{
    RecorderError err;
    EXPECT_FALSE(recorderTry([] { throw Silent(); }, &err));
    EXPECT_TRUE(err.message.contains(QStringLiteral("Silent"))) << err.message.toStdString();
}

TEST(RecorderTryObjC, NullErrorSlotStillReportsFailure)
{
    EXPECT_FALSE(recorderTry([] { throw std::logic_error("x"); }, nullptr));
    EXPECT_TRUE(RecorderTryObjC(nullptr, nullptr, nullptr));
}

TEST(RecorderTryObjC, OtherThrownValuesPropagate)
{
    EXPECT_THROW(recorderTry([] { throw 42; }, nullptr), int);
}
