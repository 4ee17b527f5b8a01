#include "platform/DisplayList.h"
#include "platform/core/ProcessServices.h"
#include "platform/synthetic/SyntheticDisplayList.h"

#include <gtest/gtest.h>

#include <string>

namespace corvessa {
namespace {

// A service ended before one it uses would use it destroyed: the ends run in
// the reverse order of creation, including ends of services created while
// the others end, and the installed platform services are released with them.
TEST(ProcessServices, EndInTheReverseOrderOfCreation)
{
    ProcessServices::endAll(); // whatever this test program made before
    std::string order;
    ProcessServices::atEnd([&] { order += 'a'; });
    ProcessServices::atEnd([&] {
        order += 'b';
        ProcessServices::atEnd([&] { order += 'c'; });
    });
    auto displays = std::make_shared<SyntheticDisplayList>();
    DisplayList::setCurrent(displays);
    ASSERT_EQ(displays.use_count(), 2);
    ProcessServices::endAll();
    EXPECT_EQ(order, "bca");
    EXPECT_EQ(displays.use_count(), 1) << "the slot let go of it";

    // Made again afterwards, it ends again at the next end.
    DisplayList::setCurrent(displays);
    ProcessServices::endAll();
    EXPECT_EQ(displays.use_count(), 1);
    EXPECT_EQ(order, "bca");
}

} // namespace
} // namespace corvessa
