#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test program runs with a Qt application object on the offscreen platform,
// so widgets, timers and queued calls work without a display.
int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
