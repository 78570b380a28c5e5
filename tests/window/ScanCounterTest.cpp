#include "window/ScanCounter.h"
#include "tests/TestDoubles.h"
#include "tests/window/WindowDoubles.h"

#include <gtest/gtest.h>

namespace qirn {
namespace {

TEST(ScanCounterTest, BatchesOfFive)
{
    test::MemoryCaption shown;
    ScanCounter counter(shown);
    counter.Reset();
    EXPECT_EQ(shown.Text(), "Not available");
    for (int i = 1; i <= 12; ++i) {
        counter.Advance("file" + std::to_string(i));
        EXPECT_EQ(shown.Text(), std::to_string(i));
        if (i == 5) {
            EXPECT_EQ(counter.Batches(), 5u);
            EXPECT_TRUE(counter.Pending().empty());
        }
    }
    EXPECT_EQ(counter.Batches(), 10u);
    EXPECT_EQ(counter.Pending(), (std::vector<std::string>{"file11", "file12"}));
    counter.Reset();
    EXPECT_EQ(counter.Total(), 0u);
    EXPECT_EQ(shown.Text(), "Not available");
}

}  // namespace
}  // namespace qirn
