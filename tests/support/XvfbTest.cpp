#include "support/XvfbTest.h"

namespace corvessa::test {

void XvfbTest::startServer(const QString& screen)
{
    delete s_xvfb;
    s_error.clear();
    s_xvfb = new XvfbFixture(screen);
    s_xvfb->start(&s_error);
}

void XvfbTest::TearDownTestSuite()
{
    delete s_xvfb;
    s_xvfb = nullptr;
}

void XvfbTest::SetUp()
{
    if (!XvfbFixture::isInstalled())
        GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(s_xvfb && s_xvfb->isRunning()) << s_error.toStdString();
    if (m_openClient) {
        client = std::make_unique<XvfbClient>(s_xvfb->display());
        ASSERT_TRUE(client->isOpen());
    }
}

} // namespace corvessa::test
