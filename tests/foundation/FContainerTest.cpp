#include "FoundationTestSupport.h"

#include <numeric>

using namespace FSpace;

namespace {

/// Counts live instances, to see what a container created and deleted.
struct Tracked {
    static inline int live = 0;
    int value = 0;

    Tracked() { ++live; }
    explicit Tracked(int v) : value(v) { ++live; }
    Tracked(Tracked const& other) : value(other.value) { ++live; }
    Tracked& operator=(Tracked const&) = default;
    ~Tracked() { --live; }
    operator int() const { return value; }
};

class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override { Tracked::live = 0; }
    void TearDown() override { EXPECT_EQ(Tracked::live, 0) << "elements leaked or deleted twice"; }
};

/// The elements in index order.
template <class C>
std::vector<int> contents(C const& c) {
    std::vector<int> result;
    for (long i = 0; i < c.Count(); ++i)
        result.push_back(c[i]);
    return result;
}

FList<Tracked> listOf(std::vector<int> const& values) {
    FList<Tracked> list;
    for (int v : values)
        list.add(Tracked(v));
    return list;
}

} // namespace

TEST(FMemoryTest, AllocateZeroFillsAndRelocateKeepsTheCommonPrefix) {
    int* p = FMemory<int>::allocate(3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{0, 0, 0}));
    EXPECT_TRUE(FMemory<int>::allocate(0) == nullptr && FMemory<int>::allocate(-3) == nullptr);
    FMemory<int>::deallocate(nullptr);
    std::iota(p, p + 3, 1);
    EXPECT_EQ(FMemory<int>::relocate(p, 3, 3), p);
    int* grown = FMemory<int>::relocate(p, 3, 5);
    EXPECT_EQ(std::vector<int>(grown, grown + 5), (std::vector<int>{1, 2, 3, 0, 0}));
    int* shrunk = FMemory<int>::relocate(grown, 5, 2);
    EXPECT_EQ(std::vector<int>(shrunk, shrunk + 2), (std::vector<int>{1, 2}));
    FMemory<int>::deallocate(shrunk);
}

TEST_F(ContainerTest, AnExactFitArrayGrowsByOnePerAddAListByTheRequestOnTopOfItsCapacity) {
    auto capacities = [](auto& container, int adds) {
        std::vector<long> seen;
        for (int i = 0; i < adds; ++i)
            container.add(Tracked(i * 10)), seen.push_back(container.Capacity());
        return seen;
    };
    FArray<int, FAllocation<int>> array;
    FList<Tracked> list;
    EXPECT_EQ(capacities(array, 4), (std::vector<long>{1, 2, 3, 4}));
    EXPECT_EQ(contents(array), (std::vector<int>{0, 10, 20, 30}));
    EXPECT_EQ(capacities(list, 8), (std::vector<long>{1, 3, 3, 7, 7, 7, 7, 15}));
    EXPECT_TRUE(list.Count() == 8 && Tracked::live == 8);
}

TEST(FArrayTest, RemoveKeepsOrderAndCutsRangesToTheArray) {
    FArray<int, FAllocationBuf<int>> array;
    for (int i = 0; i < 6; ++i)
        array.add(i);
    EXPECT_EQ(array.remove(1, 2), 4);
    EXPECT_EQ(contents(array), (std::vector<int>{0, 3, 4, 5}));
    EXPECT_EQ(array.remove(3, 10), 3); // cut to the end
    // Outside the array, or nothing to remove: nothing changes.
    EXPECT_ROWS(long, {array.remove(7, 1), 3}, {array.remove(-1, 1), 3}, {array.remove(0, 0), 3});
    EXPECT_EQ(contents(array), (std::vector<int>{0, 3, 4}));
}

TEST(FArrayTest, IndexConventionCountsFromTheEndClampsAndThrowsWhenEmpty) {
    FArray<int, FAllocation<int>> array;
    EXPECT_THROW(array[0], FXCOutOfBounds);
    EXPECT_THROW(FList<int>()[-1], FXCOutOfBounds);
    for (int v : {1, 2, 3})
        array.add(v);
    EXPECT_ROWS(int, {array[0], 1}, {array[2], 3}, {array[3], 3}, {array[99], 3}, {array[-1], 3},
                {array[-3], 1}, {array[-10], 1});
}

TEST(FArrayTest, CopiesAreIndependent) {
    FArray<FGStr<char>, FAllocation<FGStr<char>>> array;
    array.add(FGStr<char>("a")), array.add(FGStr<char>("b"));
    FArray<FGStr<char>, FAllocation<FGStr<char>>> copy(array);
    copy[0] = "changed";
    EXPECT_TRUE(array[0] == "a" && copy[0] == "changed" && copy[1] == "b");
}

TEST_F(ContainerTest, RemoveAtOutsideTheListChangesNothing) {
    FList<Tracked> list = listOf({0, 1, 2, 3, 4});
    for (long index : {5L, 6L, -1L, 100L})
        EXPECT_FALSE(list.il_removeAt(index)) << index;
    EXPECT_TRUE(list.Count() == 5 && list.il_removeAt(4) && list.il_removeAt(0) && Tracked::live == 3);
    EXPECT_EQ(contents(list), (std::vector<int>{1, 2, 3}));
    // Removing the only element leaves an empty list.
    FList<Tracked> single = listOf({7});
    EXPECT_TRUE(single.il_removeAt(0) && single.isEmpty() && Tracked::live == 3);
    EXPECT_FALSE(single.il_removeAt(0));
}

TEST_F(ContainerTest, RemoveAllDeletesEveryElementAndReportsWhetherThereWasAny) {
    FList<Tracked> list;
    EXPECT_FALSE(list.il_removeAll());
    list.add(Tracked(1)), list.add(Tracked(2));
    EXPECT_TRUE(list.il_removeAll() && list.Count() == 0 && list.Capacity() == 0 && Tracked::live == 0);
    list.add(Tracked(3)); // usable again
    EXPECT_TRUE(list.Capacity() == 1 && list.il_removeAt(0));
    EXPECT_FALSE(list.il_removeAll()) << "slots left, but no elements";
}

TEST_F(ContainerTest, ListCopiesCopyEveryElement) {
    FList<Tracked> list = listOf({1, 2});
    {
        FList<Tracked> copy(list);
        copy[0].value = 10;
        EXPECT_TRUE(Tracked::live == 4 && list[0].value == 1);
        FList<Tracked> assigned = listOf({9});
        assigned = list;
        FList<Tracked>& alias = assigned;
        assigned = alias;
        EXPECT_EQ(contents(assigned), (std::vector<int>{1, 2}));
    }
    EXPECT_EQ(Tracked::live, 2);
}

TEST_F(ContainerTest, SetReplacesTheElementWithAnEqualKeyInItsSlot) {
    FSet<int> set;
    set.add(1), set.add(2), set.add(1);
    EXPECT_ROWS(long, {set.Count(), 2}, {set.il_find(2), 1}, {set.il_find(3), -1}, {set.il_find(1, 1), -1},
                {set.il_find(2, -1), 1});
}

TEST(FMapTest, PointerKeysCompareByIdentityStringKeysByTextInInsertionOrder) {
    wchar_t const first[] = L"key";
    wchar_t const second[] = L"key";
    FMap<wchar_t const*, wchar_t const*> map;
    map.add(first, L"one"), map.add(first, L"two"), map.add(second, L"three");
    ASSERT_EQ(map.Count(), 2);
    EXPECT_TRUE(map[0].key == first && map[1].key == second);
    EXPECT_EQ(std::wstring(map[0].value) + map[1].value, L"twothree");
    // String keys compare by text and keep their insertion order.
    FMap<FGStr<char>, int> texts;
    texts.add(FGStr<char>("b"), 1), texts.add(FGStr<char>("a"), 2), texts.add(FGStr<char>("b"), 3);
    ASSERT_TRUE(texts.Count() == 2 && texts.find(FGStr<char>("a")) != nullptr);
    EXPECT_TRUE(texts[0].key == "b" && texts[0].value == 3);
    EXPECT_TRUE(texts.find(FGStr<char>("a"))->value == 2 && texts.find(FGStr<char>("c")) == nullptr);
    FMap<FGStr<char>, int> copy(texts);
    copy.add(FGStr<char>("c"), 4);
    EXPECT_TRUE(texts.Count() == 2 && copy.Count() == 3);
}
