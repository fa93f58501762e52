#include "FType.h"

#include <gtest/gtest.h>

using namespace FSpace;

namespace {

/// Counts live instances, so tests can see what a container created and deleted.
struct Tracked {
    static inline int live = 0;
    int value = 0;

    Tracked() { ++live; }
    explicit Tracked(int v) : value(v) { ++live; }
    Tracked(Tracked const& other) : value(other.value) { ++live; }
    Tracked& operator=(Tracked const&) = default;
    ~Tracked() { --live; }
};

class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override { Tracked::live = 0; }
    void TearDown() override { EXPECT_EQ(Tracked::live, 0) << "elements leaked or deleted twice"; }
};

} // namespace

TEST(FMemoryTest, AllocateZeroFillsAndRejectsNonPositiveCounts) {
    int* p = FMemory<int>::allocate(4);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p[i], 0);
    }
    FMemory<int>::deallocate(p);
    EXPECT_EQ(FMemory<int>::allocate(0), nullptr);
    EXPECT_EQ(FMemory<int>::allocate(-3), nullptr);
    FMemory<int>::deallocate(nullptr);
}

TEST(FMemoryTest, RelocateKeepsTheCommonPrefix) {
    int* p = FMemory<int>::allocate(3);
    p[0] = 1;
    p[1] = 2;
    p[2] = 3;
    EXPECT_EQ(FMemory<int>::relocate(p, 3, 3), p);
    int* grown = FMemory<int>::relocate(p, 3, 5);
    EXPECT_EQ(grown[0], 1);
    EXPECT_EQ(grown[2], 3);
    EXPECT_EQ(grown[4], 0);
    int* shrunk = FMemory<int>::relocate(grown, 5, 2);
    EXPECT_EQ(shrunk[0], 1);
    EXPECT_EQ(shrunk[1], 2);
    FMemory<int>::deallocate(shrunk);
}

TEST(FArrayTest, ExactFitArrayGrowsByOnePerAdd) {
    FArray<int, FAllocation<int>> array;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(array.add(i * 10), i * 10);
        EXPECT_EQ(array.Capacity(), i + 1);
    }
    EXPECT_EQ(array.Count(), 4);
}

TEST(FArrayTest, RemoveKeepsOrderAndCutsRangesToTheArray) {
    FArray<int, FAllocationBuf<int>> array;
    for (int i = 0; i < 6; ++i) {
        array.add(i);
    }
    EXPECT_EQ(array.remove(1, 2), 4);
    int const expected[] = {0, 3, 4, 5};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(array[i], expected[i]);
    }
    EXPECT_EQ(array.remove(3, 10), 3); // cut to the end
    EXPECT_EQ(array.remove(7, 1), 3);  // outside: nothing changes
    EXPECT_EQ(array.remove(-1, 1), 3);
    EXPECT_EQ(array.remove(0, 0), 3);
}

TEST(FArrayTest, IndexConventionCountsFromTheEndAndClamps) {
    FArray<int, FAllocation<int>> array;
    array.add(1);
    array.add(2);
    array.add(3);
    struct Case {
        long index;
        int expected;
    } const cases[] = {{0, 1}, {2, 3}, {3, 3}, {99, 3}, {-1, 3}, {-3, 1}, {-10, 1}};
    for (auto const& c : cases) {
        EXPECT_EQ(array[c.index], c.expected) << "index " << c.index;
    }
}

TEST(FArrayTest, AccessToAnEmptyArrayThrowsInsteadOfReadingNothing) {
    FArray<int, FAllocation<int>> array;
    EXPECT_THROW(array[0], FXCOutOfBounds);
    FList<int> list;
    EXPECT_THROW(list[-1], FXCOutOfBounds);
}

TEST(FArrayTest, CopiesAreIndependent) {
    FArray<FGStr<char>, FAllocation<FGStr<char>>> array;
    array.add(FGStr<char>("a"));
    array.add(FGStr<char>("b"));
    FArray<FGStr<char>, FAllocation<FGStr<char>>> copy(array);
    copy[0] = "changed";
    EXPECT_TRUE(array[0] == "a");
    EXPECT_TRUE(copy[0] == "changed");
    EXPECT_TRUE(copy[1] == "b");
}

TEST_F(ContainerTest, ListCapacityGrowsByTheRequestOnTopOfTheCapacity) {
    FList<Tracked> list;
    long const expected[] = {1, 3, 3, 7, 7, 7, 7, 15};
    for (int i = 0; i < 8; ++i) {
        list.add(Tracked(i));
        EXPECT_EQ(list.Capacity(), expected[i]) << "after " << i + 1 << " adds";
    }
    EXPECT_EQ(list.Count(), 8);
    EXPECT_EQ(Tracked::live, 8);
}

TEST_F(ContainerTest, RemoveAtOutsideTheListChangesNothing) {
    FList<Tracked> list;
    for (int i = 0; i < 5; ++i) {
        list.add(Tracked(i));
    }
    for (long index : {5L, 6L, -1L, 100L}) {
        EXPECT_FALSE(list.il_removeAt(index)) << index;
        EXPECT_EQ(list.Count(), 5);
    }
    EXPECT_TRUE(list.il_removeAt(4));
    EXPECT_TRUE(list.il_removeAt(0));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0].value, 1);
    EXPECT_EQ(list[2].value, 3);
    EXPECT_EQ(Tracked::live, 3);
}

TEST_F(ContainerTest, RemovingTheOnlyElementLeavesAnEmptyList) {
    FList<Tracked> list;
    list.add(Tracked(7));
    EXPECT_TRUE(list.il_removeAt(0));
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(Tracked::live, 0);
    EXPECT_FALSE(list.il_removeAt(0));
}

TEST_F(ContainerTest, RemoveAllDeletesEveryElementAndReportsWhetherThereWasAny) {
    FList<Tracked> list;
    EXPECT_FALSE(list.il_removeAll());
    list.add(Tracked(1));
    list.add(Tracked(2));
    EXPECT_TRUE(list.il_removeAll());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(Tracked::live, 0);
    list.add(Tracked(3)); // usable again
    EXPECT_EQ(list.Capacity(), 1);
    EXPECT_TRUE(list.il_removeAt(0));
    EXPECT_FALSE(list.il_removeAll()) << "slots left, but no elements";
}

TEST_F(ContainerTest, ListCopiesCopyEveryElement) {
    FList<Tracked> list;
    list.add(Tracked(1));
    list.add(Tracked(2));
    {
        FList<Tracked> copy(list);
        EXPECT_EQ(Tracked::live, 4);
        copy[0].value = 10;
        EXPECT_EQ(list[0].value, 1);
        FList<Tracked> assigned;
        assigned.add(Tracked(9));
        assigned = list;
        EXPECT_EQ(assigned.Count(), 2);
        EXPECT_EQ(assigned[1].value, 2);
        FList<Tracked>& alias = assigned;
        assigned = alias;
        EXPECT_EQ(assigned.Count(), 2);
    }
    EXPECT_EQ(Tracked::live, 2);
}

TEST_F(ContainerTest, SetReplacesTheElementWithAnEqualKeyInItsSlot) {
    FSet<int> set;
    set.add(1);
    set.add(2);
    set.add(1);
    EXPECT_EQ(set.Count(), 2);
    EXPECT_EQ(set.il_find(2), 1);
    EXPECT_EQ(set.il_find(3), -1);
    EXPECT_EQ(set.il_find(1, 1), -1);
    EXPECT_EQ(set.il_find(2, -1), 1);
}

TEST(FMapTest, PointerKeysCompareByIdentityNotByText) {
    wchar_t const first[] = L"key";
    wchar_t const second[] = L"key";
    FMap<wchar_t const*, wchar_t const*> map;
    map.add(first, L"one");
    map.add(first, L"two");
    ASSERT_EQ(map.Count(), 1);
    EXPECT_STREQ(map[0].value, L"two");
    map.add(second, L"three");
    ASSERT_EQ(map.Count(), 2);
    EXPECT_EQ(map[0].key, first);
    EXPECT_EQ(map[1].key, second);
    EXPECT_STREQ(map[1].value, L"three");
}

TEST(FMapTest, StringKeysCompareByTextAndKeepInsertionOrder) {
    FMap<FGStr<char>, int> map;
    map.add(FGStr<char>("b"), 1);
    map.add(FGStr<char>("a"), 2);
    map.add(FGStr<char>("b"), 3);
    ASSERT_EQ(map.Count(), 2);
    EXPECT_TRUE(map[0].key == "b");
    EXPECT_EQ(map[0].value, 3);
    ASSERT_NE(map.find(FGStr<char>("a")), nullptr);
    EXPECT_EQ(map.find(FGStr<char>("a"))->value, 2);
    EXPECT_EQ(map.find(FGStr<char>("c")), nullptr);
    FMap<FGStr<char>, int> copy(map);
    copy.add(FGStr<char>("c"), 4);
    EXPECT_EQ(map.Count(), 2);
    EXPECT_EQ(copy.Count(), 3);
}
