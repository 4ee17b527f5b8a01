#pragma once

#include "support/XvfbClient.h"
#include "support/XvfbFixture.h"

#include <QString>

#include <gtest/gtest.h>

#include <memory>

namespace corvessa::test {

// Base for test suites that run against one private Xvfb server, started once
// for the suite. SetUp skips when Xvfb is not installed and fails when the
// server did not come up; a derived SetUp calls it first and returns when
// IsSkipped() or HasFatalFailure(). Suites that want a plain X client of their
// own pass Client::open and find it in `client`.
class XvfbTest : public ::testing::Test {
protected:
    enum class Client { none, open };

    explicit XvfbTest(Client client = Client::none) : m_openClient(client == Client::open) {}

    static void SetUpTestSuite() { startServer(); }
    static void TearDownTestSuite();
    // For a suite's own SetUpTestSuite when it needs another screen geometry.
    static void startServer(const QString& screen = QStringLiteral("1280x800x24"));

    void SetUp() override;

    // Runs the test `filter` (e.g. "SuiteOnX.DISABLED_Name", written as
    // ON_SERVER_TEST_F(SuiteOnX, Name), see DrivenTest.h) in a second run of
    // this program whose Qt uses the private server instead of the offscreen
    // platform, with `environment` added, and reports its outcome here: passed,
    // failed with its output, or skipped.
    void runOnServer(const QString& filter, const QStringList& environment = {});

    static inline XvfbFixture* s_xvfb = nullptr;
    static inline QString s_error;
    std::unique_ptr<XvfbClient> client;

private:
    bool m_openClient;
};

} // namespace corvessa::test
