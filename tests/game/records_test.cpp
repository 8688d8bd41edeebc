// Tests of the list walk: retiring the visited record skips and repeats
// nothing, and records keep their addresses while others come and go.
#include <vector>

#include <gtest/gtest.h>

#include "game/records.h"

namespace {

TEST(WalkList, RetiringTheVisitedRecordVisitsEveryOtherOnce) {
    std::list<game::Enemy> list;
    for (int i = 0; i < 10; ++i) {
        game::Enemy e;
        e.n = i;
        list.push_back(e);
    }
    std::vector<int> visited;
    game::WalkList(list, [&](game::Enemy& e) {
        visited.push_back(e.n);
        return e.n % 3 == 0;  // retire 0, 3, 6, 9 (first and last included)
    });
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    std::vector<int> left;
    for (const auto& e : list) left.push_back(e.n);
    EXPECT_EQ(left, (std::vector<int>{1, 2, 4, 5, 7, 8}));
}

TEST(WalkList, RecordsAddedAtTheEndDuringAWalkAreVisitedAndAtTheFrontAreNot) {
    std::list<game::Shot> list(2);
    int visits = 0;
    game::WalkList(list, [&](game::Shot& s) {
        ++visits;
        if (s.n == 0 && visits == 1) {
            game::Shot tail;
            tail.n = 1;
            list.push_back(tail);
            list.push_front(tail);
        }
        return false;
    });
    EXPECT_EQ(visits, 3);
    EXPECT_EQ(list.size(), 4u);
}

TEST(WalkList, AddressesStayStable) {
    std::list<game::Particle> list(3);
    game::Particle* middle = &*std::next(list.begin());
    middle->x = 42;
    for (int i = 0; i < 1000; ++i) list.push_back(game::Particle{});
    game::WalkList(list, [&](game::Particle& p) { return &p != middle; });
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(&list.front(), middle);
    EXPECT_DOUBLE_EQ(middle->x, 42);
}

TEST(Records, NewRecordsAreZeroed) {
    game::Enemy e;
    EXPECT_EQ(e.weapon, 0);
    EXPECT_EQ(e.health, 0);
    EXPECT_DOUBLE_EQ(e.anggo, 0);
    game::Shot s;
    EXPECT_EQ(s.t, 0);
}

}  // namespace
