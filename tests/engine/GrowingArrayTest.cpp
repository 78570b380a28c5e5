#include "engine/GrowingArray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace qirn {
namespace {

TEST(GrowingArrayTest, KeepsItsValuesThroughEveryGrowth)
{
    GrowingArray<std::uint32_t> values;
    constexpr std::uint32_t kCount = 3'000'000;  // 12 MB
    for (std::uint32_t i = 0; i < kCount; ++i)
        values.PushBack(i * 7);
    GrowingArray<std::uint32_t> moved(std::move(values));
    ASSERT_EQ(moved.Size(), kCount);
    for (std::uint32_t i = 0; i < kCount; ++i)
        ASSERT_EQ(moved[i], i * 7) << i;
    values = std::move(moved);
    values.Assign(100, 5);
    EXPECT_EQ(values.Size(), 100u);
    EXPECT_EQ(values[99], 5u);
}

}  // namespace
}  // namespace qirn
