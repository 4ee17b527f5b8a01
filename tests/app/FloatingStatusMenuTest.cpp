// The floating status menu's rows follow the phase they were built in.
#include "app/FloatingStatusMenu.h"
#include "support/ModelHarness.h"

namespace corvessa::test {
namespace {

class FloatingStatusMenuTest : public ModelHarness {};

QStringList texts(const MenuRows& rows)
{
    QStringList out;
    for (const MenuRow& r : rows)
        out << (r.asItem() ? r.asItem()->title : r.asNote() ? QStringLiteral("note:") + r.asNote()->text : "-");
    return out;
}

TEST_F(FloatingStatusMenuTest, RowsFollowThePhase)
{
    RecorderModel& m = make();
    const QStringList tail = {"Focus Magnifier", "Switch Magnifier Mode", "Teleprompter", "Full-Screen Camera", "-",
                              "Show Toolbar", "Settings…", "-", "Quit (Save Recording First)"};
    const std::vector<std::pair<RecorderPhase, QStringList>> table = {
        {RecorderPhase::countdown(3), {"note:Preparing to record…", "-"}},
        {RecorderPhase::recording(), {"Pause Recording", "Stop Recording", "-"}},
        {RecorderPhase::paused(), {"Continue Recording", "Stop Recording", "-"}},
        {RecorderPhase::finishing(), {"note:Preparing to record…", "-"}},
    };
    for (const auto& [phase, head] : table) {
        m.setPhase(phase);
        EXPECT_EQ(texts(FloatingStatusMenu::rows(m, {})), head + tail) << int(phase.kind);
    }
}

} // namespace
} // namespace corvessa::test
