#include <gtest/gtest.h>

#include <set>
#include <string>

#include "event/event_types.h"

using qz45::EventCategoryOf;
using qz45::EventTypeName;

TEST(EventTypes, CategoriesOfTheTable) {
    EXPECT_EQ(EventCategoryOf(0), 0);
    EXPECT_EQ(EventCategoryOf(1), 209);
    EXPECT_EQ(EventCategoryOf(3), 301);
    EXPECT_EQ(EventCategoryOf(4), 206);
    EXPECT_EQ(EventCategoryOf(5), 207);
    EXPECT_EQ(EventCategoryOf(17), 203);
    EXPECT_EQ(EventCategoryOf(25), 203);
    EXPECT_EQ(EventCategoryOf(26), 201);
    EXPECT_EQ(EventCategoryOf(27), 202);
    EXPECT_EQ(EventCategoryOf(30), 205);
    EXPECT_EQ(EventCategoryOf(36), 208);
    EXPECT_EQ(EventCategoryOf(37), 301);
    EXPECT_EQ(EventCategoryOf(38), 401);
    EXPECT_EQ(EventCategoryOf(53), 209);
}

TEST(EventTypes, OutsideTheTableIsCategoryZero) {
    EXPECT_EQ(EventCategoryOf(54), 0);
    EXPECT_EQ(EventCategoryOf(static_cast<uint32_t>(-1)), 0);
    EXPECT_EQ(EventCategoryOf(0x80000000u), 0);
    EXPECT_EQ(EventTypeName(54), nullptr);
    EXPECT_EQ(EventTypeName(static_cast<uint32_t>(-1)), nullptr);
}

TEST(EventTypes, TableIsCompleteAndInOrder) {
    std::set<std::string> names;
    for (uint32_t t = 0; t < qz45::kEventTypeCount; ++t) {
        EXPECT_EQ(qz45::kEventTypes[t].type, static_cast<int32_t>(t));
        ASSERT_NE(EventTypeName(t), nullptr);
        names.insert(EventTypeName(t));
    }
    // 48 and 49 share their name; every other name is unique.
    EXPECT_STREQ(EventTypeName(48), EventTypeName(49));
    EXPECT_EQ(names.size(), qz45::kEventTypeCount - 1);
    EXPECT_STREQ(EventTypeName(38), "Change History Value");
}

TEST(EventTypes, EveryCategoryHasItsName) {
    for (const auto &t : qz45::kEventTypes)
        if (t.type != 0) EXPECT_STRNE(qz45::EventCategoryName(t.category), "") << t.type;
    EXPECT_STREQ(qz45::EventCategoryName(205), "activation, usability");
    EXPECT_STREQ(qz45::EventCategoryName(401), "history change");
    EXPECT_STREQ(qz45::EventCategoryName(0), "");
    EXPECT_STREQ(qz45::EventCategoryName(204), "");
}
