#include "FTypeValue.h"
#include "FoundationTestSupport.h"

using namespace FSpace;
using namespace foundation_test;

namespace {

struct DerivedProbe : Probe {
    using Probe::Probe;
};

/// Adds its offset and 1000 times its list position to the first argument.
class Echo : public FInvokableMethod {
public:
    explicit Echo(char const* name, int offset) : m_name(name), m_offset(offset) {}
    FGStr<char> name() const override { return FGStr<char>(m_name); }
    TFValueBase<FTypeId> invoke(FList<TFValueBase<FTypeId>>& args, long index) override {
        int const first = static_cast<FValue<int>&>(args[0]).value();
        return FValue<int>(first + m_offset + static_cast<int>(index) * 1000);
    }

private:
    char const* m_name;
    int m_offset;
};

} // namespace

TEST(FRefTest, RawAssignmentTakesOwnershipAndReassigningTheHeldObjectKeepsTheCount) {
    std::atomic<int> destroyed{0};
    {
        FRef<Probe> ref;
        EXPECT_TRUE(ref.isNull() && ref.refCount() == 0);
        auto* object = new Probe(&destroyed);
        FRef<Probe> sharer;
        FRef<Probe>& alias = ref;
        // Rows are evaluated in order; the held object again changes nothing.
        EXPECT_ROWS(long, {(ref = object).refCount(), 1}, {(ref = object).refCount(), 1}, {ref->value, 42},
                    {(sharer = ref).refCount(), 2}, {(ref = alias).refCount(), 2},
                    {(ref = sharer).refCount(), 2}, {(sharer = ref).refCount(), 2});
        EXPECT_TRUE(&*ref == object && sharer.get() == object);
        sharer.release();
        ref = static_cast<Probe*>(nullptr);
        EXPECT_TRUE(destroyed.load() == 1 && ref.refCount() == 0);
    }
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(FRefTest, CopiesShareAndTheLastReleaseDestroys) {
    std::atomic<int> destroyed{0};
    FRef<Probe> a(new Probe(&destroyed));
    FRef<Probe> b;
    FRef<Probe> moved(std::move(b = a));
    EXPECT_TRUE(b.isNull() && a.refCount() == 2);
    a.release(), a.release(); // an empty reference has nothing to release
    EXPECT_TRUE(a.isNull() && destroyed.load() == 0);
    // Assigning another object releases the old one.
    FRef<Probe> other(new Probe(&destroyed));
    moved = other;
    EXPECT_TRUE(destroyed.load() == 1 && other.refCount() == 2);
    moved = a;
    EXPECT_TRUE(moved.isNull() && other.refCount() == 1);
    // Derived objects can be shared as their base.
    FRef<DerivedProbe> derived(new DerivedProbe(&destroyed));
    EXPECT_EQ(FRef<Probe>(derived).refCount(), 2);
    EXPECT_EQ(derived.refCount(), 1);
    derived.release();
    EXPECT_EQ(destroyed.load(), 2);
}

TEST(FRefTest, CountingHoldsAcrossThreads) {
    // Copies made and dropped on many threads keep the count.
    std::atomic<int> destroyed{0};
    FRef<Probe> shared(new Probe(&destroyed));
    std::thread workers[4];
    for (auto& worker : workers)
        worker = std::thread([&shared] {
            for (int i = 0; i < 2000; ++i) {
                FRef<Probe> copy(shared), another;
                another = copy;
            }
        });
    for (auto& worker : workers)
        worker.join();
    EXPECT_TRUE(shared.refCount() == 1 && (shared.release(), destroyed.load() == 1));
    // The last of two copies released at once destroys the object exactly once.
    for (int round = 0; round < 200; ++round) {
        std::atomic<bool> go{false};
        FRef<Probe> first(new Probe(&destroyed)), second(first);
        auto drop = [&go](FRef<Probe>& ref) {
            while (!go.load())
                ;
            ref.release();
        };
        std::thread a(drop, std::ref(first)), b(drop, std::ref(second));
        go = true;
        a.join(), b.join();
        ASSERT_EQ(destroyed.load(), 2 + round) << "round " << round;
    }
}

TEST(FRefDeathTest, AccessThroughAnEmptyReferenceReportsTheExpressionHeaderAndLineAndAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FRef<Probe> empty;
    // The report goes to standard output; the child routes it to standard error for the death test.
    EXPECT_EXIT((dup2(2, 1), (void)empty->value), testing::KilledBySignal(SIGABRT),
                "this->m_ptValue - File: FTypeRef - Line: 534\n");
    EXPECT_EXIT((dup2(2, 1), (void)*empty), testing::KilledBySignal(SIGABRT),
                "this->m_ptValue - File: FTypeRef - Line: 543\n");
}

TEST(FReferenceTest, TheLastReferenceDestroysTheObjectAndSelfAssignmentKeepsIt) {
    std::atomic<int> destroyed{0};
    auto* node = new Probe(&destroyed);
    FReference<Probe> a(node);
    FReference<Probe>& alias = a;
    EXPECT_EQ((a = alias, node->refCount()), 1);
    {
        FReference<Probe> b(a);
        FReference<Probe> c;
        c = node; // made from the raw pointer: the embedded counter is shared
        EXPECT_EQ(node->refCount(), 3);
        EXPECT_TRUE(b.release() && b.isNull());
    }
    EXPECT_TRUE(node->refCount() == 1 && destroyed.load() == 0);
    // release() tells whether the object lives on; an empty reference has none.
    EXPECT_ROWS(bool, {a.release(), false}, {destroyed.load() == 1 && a.isNull(), true}, {a.release(), true});
}

TEST(FDispatchableTest, InvokesTheFirstMethodWithTheExactNameAndClampsMethodIndexes) {
    struct : FObject {
        void add(char const* name, int offset) { addInvokableMethod(new Echo(name, offset)); }
    } calculator;
    calculator.add("plusOne", 1), calculator.add("plusTwo", 2), calculator.add("plusOne", 50); // shadowed
    FList<TFValueBase<FTypeId>> args;
    args.il_add(new FValue<int>(10));
    TFValueBase<FTypeId> const result = calculator.invokeByName("plusOne", args);
    EXPECT_TRUE(result.typeId() == FTypeInt32 && result == FValue<int>(11) &&
                calculator.invokeByName("plusTwo", args) == FValue<int>(1012));
    for (char const* unknown : {"PlusOne", "missing", "", static_cast<char const*>(nullptr)})
        EXPECT_THROW(calculator.invokeByName(unknown, args), FInvalidOperationException);
    EXPECT_EQ(text(calculator.InvokableMethod(0)->name()) + text(calculator.InvokableMethod(-2)->name()),
              "plusOneplusTwo");
    EXPECT_TRUE(calculator.InvokableMethods().Count() == 3 &&
                calculator.InvokableMethod(7) == calculator.InvokableMethod(2));
    EXPECT_THROW(FObject().InvokableMethod(0), FXCOutOfBounds);
}

TEST(FThreadLockTest, TheOwningThreadMayLockAgain) {
    FThreadLock_T<pthread_mutex_t> lock;
    auto otherThreadGetsIt = [&lock] {
        bool got = false;
        std::thread([&] {
            got = lock.tryLock();
            if (got)
                lock.unlock();
        }).join();
        return got;
    };
    lock.lock();
    // Rows are evaluated in order; after one unlock the lock is still held once.
    EXPECT_ROWS(bool, {lock.tryLock(), true}, {otherThreadGetsIt(), false},
                {(lock.unlock(), otherThreadGetsIt()), false}, {(lock.unlock(), otherThreadGetsIt()), true});
}
