#include "support/XvfbTest.h"

#include <QCoreApplication>
#include <QProcess>

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

void XvfbTest::runOnServer(const QString& filter, const QStringList& environment)
{
    if (IsSkipped() || HasFatalFailure())
        return;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const QString& entry : environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=") + filter});
    ASSERT_TRUE(child.waitForFinished(300000)) << "the run on the server did not end";
    const QByteArray output = child.readAll();
    // Spelt in two pieces: the whole marker in a failure message would make
    // CTest count this test as skipped.
    if (output.contains(QByteArray("[  SKIPPED") + " ] 1 test"))
        GTEST_SKIP() << "skipped on the server: " << output.right(400).toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

} // namespace corvessa::test
