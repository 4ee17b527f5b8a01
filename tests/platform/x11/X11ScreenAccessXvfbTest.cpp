#include "platform/x11/X11ScreenAccess.h"
#include "support/XvfbTest.h"

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

class X11ScreenAccessXvfb : public test::XvfbTest {};

} // namespace

TEST_F(X11ScreenAccessXvfb, GrantedWhereTheServerCanBeCapturedDeniedWhereThereIsNone)
{
    EXPECT_EQ(X11ScreenAccess::probe(s_xvfb->display()), Permissions::Access::granted);
    EXPECT_EQ(X11ScreenAccess::probe(), Permissions::Access::granted); // $DISPLAY
    EXPECT_EQ(X11ScreenAccess::probe(QStringLiteral(":987")), Permissions::Access::denied);
}
