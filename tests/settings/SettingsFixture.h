#pragma once

#include "prefs/Prefs.h"
#include "support/English.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace corvessa::test {

// What the settings tests share: a home of their own, the program's texts in
// English and fresh preferences, dropped again afterwards. A derived SetUp
// calls this one first; a derived TearDown drops its own objects and then
// calls this one.
class SettingsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        useEnglish();
        freshPrefs.emplace(Prefs::resetShared);
        prefs = &Prefs::shared();
    }

    TempHome home;
    std::optional<ServiceScope> freshPrefs;
    Prefs* prefs = nullptr;
};

} // namespace corvessa::test
