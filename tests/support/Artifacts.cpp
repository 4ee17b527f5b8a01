#include "support/Artifacts.h"

#include <QDir>

#include <gtest/gtest.h>

namespace corvessa::test {

QString Artifacts::folder()
{
    const QString dir = qEnvironmentVariable("CORVESSA_TEST_ARTIFACTS");
    if (!dir.isEmpty())
        QDir().mkpath(dir);
    return dir;
}

QString Artifacts::testName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info)
        return QStringLiteral("no-test");
    // A body run on its own server is a disabled test of a suite of its own.
    return QString::fromStdString(std::string(info->test_suite_name()) + '.' + info->name())
        .replace(QLatin1Char('/'), QLatin1Char('-'))
        .remove(QStringLiteral("DISABLED_"));
}

QString Artifacts::path(const QString& name)
{
    const QString dir = folder();
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + testName() + QLatin1Char('-') + name;
}

} // namespace corvessa::test
