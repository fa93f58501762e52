#include "FTypeValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <typeinfo>

using namespace FSpace;

namespace {

using Value = TFValueBase<FTypeId>;
using Structure = TFValueStructureBase<FTypeId, char>;

std::string text(Value const& v) {
    FGStr<char> const s = v.toCString();
    char const* p = s;
    return p == nullptr ? std::string() : std::string(p);
}

/// Counts its destructions, to see what values share and release.
class Probe : public FObject {
public:
    explicit Probe(int* destroyed) : m_destroyed(destroyed) {}
    ~Probe() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

unsigned char const kBytes[] = {0x01, 0xAB};
unsigned long long const kLargest = std::numeric_limits<unsigned long long>::max();

} // namespace

// --- Kinds, sizes and texts ---

TEST(FTypeValueTest, CreateTypeGivesZeroContentOfTheKindsSize) {
    struct Case {
        FTypeId kind;
        unsigned int size;
        char const* text;
    } const cases[] = {
        {FTypeBool, 1, "0"},
        {FTypeUInt8, 1, "0"},
        {FTypeInt8, 1, "0"},
        {FTypeUInt16, 2, "0"},
        {FTypeInt16, 2, "0"},
        {FTypeUInt32, 4, "0"},
        {FTypeInt32, 4, "0"},
        {FTypeUInt64, 8, "0"},
        {FTypeInt64, 8, "0"},
        {FTypeFloat, 4, "0"},
        {FTypeDouble, 8, "0"},
        {FTypeChar, 1, ""},
        {FTypeWChar, 4, ""},
        {FTypeCharPtr, 8, ""},
        {FTypeWCharPtr, 8, ""},
        {FTypeString, 8, ""},
        {FTypeWString, 8, ""},
        {FTypeBinary, 24, ""},
        {FTypeReference, 16, ""},
        {FTypePointer, 8, "0000000000000000"},
        {FTypeGUID, 16, "{00000000-0000-0000-0000-000000000000}"},
    };
    for (Case const& c : cases) {
        std::unique_ptr<Value> const v(Value::createType(c.kind));
        EXPECT_EQ(v->typeId(), c.kind);
        EXPECT_EQ(v->size(), c.size) << std::hex << c.kind;
        EXPECT_EQ(text(*v), c.text) << std::hex << c.kind;
        EXPECT_TRUE(v->name().isEmpty());
    }
    std::unique_ptr<Value> const time(Value::createType(FTypeTime));
    EXPECT_EQ(time->size(), 10u);
    auto* typedTime = dynamic_cast<FValue<FTime>*>(time.get());
    ASSERT_NE(typedTime, nullptr);
    EXPECT_FALSE(typedTime->value().isCleared()); // made as "now"
    EXPECT_TRUE(*std::unique_ptr<Value>(Value::createType(FTypeInt32)) == FValue<int>(0));
    for (unsigned kind : {0x0u, 0x1u, 0x6u, 0x800000u, 0x4000000u, 0x20000000u, 0x80000080u}) {
        std::unique_ptr<Value> const v(Value::createType(static_cast<FTypeId>(kind)));
        EXPECT_EQ(v->typeId(), FTypeNone) << std::hex << kind;
        EXPECT_EQ(v->size(), 0u);
        EXPECT_EQ(v->content(), nullptr);
    }
}

TEST(FTypeValueTest, EachKindRendersItsContent) {
    char const* const narrow = "abc";
    wchar_t const* const wide = L"w\u00e9";
    std::pair<std::shared_ptr<Value>, char const*> const cases[] = {
        {std::make_shared<FValue<bool>>(true), "1"},
        {std::make_shared<FValue<unsigned char>>(200), "200"},
        {std::make_shared<FValue<signed char>>(-128), "-128"},
        {std::make_shared<FValue<unsigned short>>(65535), "65535"},
        {std::make_shared<FValue<short>>(-32768), "-32768"},
        {std::make_shared<FValue<unsigned int>>(4294967295u), "4294967295"},
        {std::make_shared<FValue<int>>(-7), "-7"},
        {std::make_shared<FValue<unsigned long long>>(18446744073709551615ULL), "18446744073709551615"},
        {std::make_shared<FValue<long long>>(std::numeric_limits<long long>::min()), "-9223372036854775808"},
        {std::make_shared<FValue<float>>(0.5f), "0.5"},
        {std::make_shared<FValue<double>>(-1.25), "-1.25"},
        {std::make_shared<FValue<char>>('x'), "x"},
        {std::make_shared<FValue<char, static_cast<FTypeId>(65536)>>('y'), "y"},
        {std::make_shared<FValue<wchar_t>>(L'\u20ac'), "\xac"},
        {std::make_shared<FValue<char const*>>(narrow), "abc"},
        {std::make_shared<FValue<char const*>>(nullptr), ""},
        {std::make_shared<FValue<wchar_t const*>>(wide), "w\xe9"},
        {std::make_shared<Value>(FGStr<char>("abc")), "abc"},
        {std::make_shared<Value>(FGStr<wchar_t>(L"\u00e9")), "\xe9"},
        {std::make_shared<FValue<TFBinary<unsigned char>>>(TFBinary<unsigned char>(kBytes, 2)), "01ab"},
        {std::make_shared<FValue<void*>>(reinterpret_cast<void*>(0x1234)), "3412000000000000"},
        {std::make_shared<FValue<FTime>>(FTime(2026, 12, 5, 14, 44, 1, 123)), "2026-12-05T14:44:01"},
        {std::make_shared<FValue<FGUID>>(FGUID(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)),
         "{00000001-0002-0003-0405-060708090a0b}"},
        {std::make_shared<FValue<FBITFIELD>>(FBITFIELD(3)), ""},
        {std::make_shared<Value>(FObjectReference(new FObject)), ""},
        {std::make_shared<Value>(kBytes, 2u), ""},
        {std::make_shared<FValueArrayBase>(FTypeInt32), ""},
    };
    for (auto const& [value, expected] : cases) {
        EXPECT_EQ(text(*value), expected) << std::hex << value->typeId();
        std::unique_ptr<Value> const clone(value->clone());
        EXPECT_EQ(text(*clone), expected) << std::hex << value->typeId();
        EXPECT_EQ(typeid(*clone), typeid(*value)) << std::hex << value->typeId(); // clones keep their class
    }
}

// --- Equality ---

TEST(FTypeValueTest, EqualityDependsOnTheKind) {
    char const first[] = "same";
    char const second[] = "same";
    unsigned char borrowedBytes[] = {0x01, 0xAB};
    int destroyed = 0;
    auto* object = new Probe(&destroyed);
    FObjectReference const shared(object);
    FObjectReference const other(new Probe(&destroyed));
    double const nan = std::nan("");
    FGUID const guid(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
    auto named = [](Value v, char const* name) {
        v.setName(name);
        return v;
    };
    struct Case {
        char const* what;
        Value a;
        Value b;
        bool equal;
    } const cases[] = {
        {"text pointers to equal texts", FValue<char const*>(first), FValue<char const*>(second), false},
        {"the same text pointer", FValue<char const*>(first), FValue<char const*>(first), true},
        {"strings with different names", named(Value(FGStr<char>("abc")), "x"),
         named(Value(FGStr<char>("abc")), "y"), true},
        {"different strings", Value(FGStr<char>("abc")), Value(FGStr<char>("abd")), false},
        {"3 and 3u", FValue<int>(3), FValue<unsigned int>(3u), false},
        {"NaN", FValue<double>(nan), FValue<double>(nan), false},
        {"0.0 and -0.0", FValue<double>(0.0), FValue<double>(-0.0), true},
        {"empty values", Value(), Value(), false},
        {"bit fields", FValue<FBITFIELD>(FBITFIELD(2)), FValue<FBITFIELD>(FBITFIELD(2)), false},
        {"owned and borrowed bytes", FValue<TFBinary<unsigned char>>(TFBinary<unsigned char>(kBytes, 2)),
         FValue<TFBinary<unsigned char>>(TFBinary<unsigned char>::borrow(borrowedBytes, 2)), true},
        {"blocks of other sizes", FValue<TFBinary<unsigned char>>(TFBinary<unsigned char>(kBytes, 2)),
         FValue<TFBinary<unsigned char>>(TFBinary<unsigned char>(kBytes, 1)), false},
        {"raw blocks", Value(kBytes, 2u), Value(borrowedBytes, 2u), true},
        {"raw blocks of other sizes", Value(kBytes, 2u), Value(kBytes, 1u), false},
        {"references to one object", Value(shared), Value(FObjectReference(object)), true},
        {"references to two objects", Value(shared), Value(other), false},
        {"empty references", Value(FObjectReference()), Value(FObjectReference()), true},
        {"pointers", FValue<void*>(const_cast<char*>(first)), FValue<void*>(const_cast<char*>(first)), true},
        {"identifiers", FValue<FGUID>(guid), FValue<FGUID>(guid), true},
        {"times apart by 1 ms", FValue<FTime>(FTime(2024, 1, 1, 0, 0, 0, 1)),
         FValue<FTime>(FTime(2024, 1, 1, 0, 0, 0, 2)), false},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.what;
        EXPECT_EQ(c.b == c.a, c.equal) << c.what;
    }
}

TEST(FTypeValueTest, CrossTypeEqualityConvertsTheSecondOperand) {
    struct Case {
        char const* what;
        std::function<bool()> compare;
        bool equal;
    } const cases[] = {
        {"3.0 == 3", [] { return FValue<double>(3.0) == FValue<int>(3); }, true},
        {"3.5 == 3", [] { return FValue<double>(3.5) == FValue<int>(3); }, false},
        {"largest ull == -1", [] { return FValue<unsigned long long>(kLargest) == FValue<int>(-1); }, true},
        {"ll -1 == uint max", [] { return FValue<long long>(-1) == FValue<unsigned int>(4294967295u); },
         false},
        {"uint max == short -1", [] { return FValue<unsigned int>(4294967295u) == FValue<short>(-1); }, true},
        {"int -1 == ushort max", [] { return FValue<int>(-1) == FValue<unsigned short>(65535); }, false},
        {"float 2 == uchar 2", [] { return FValue<float>(2.0f) == FValue<unsigned char>(2); }, true},
        {"ushort 65535 == schar -1", [] { return FValue<unsigned short>(65535) == FValue<signed char>(-1); },
         true},
        {"uchar 255 == schar -1", [] { return FValue<unsigned char>(255) == FValue<signed char>(-1); }, true},
        {"schar -1 == uchar 255", [] { return FValue<signed char>(-1) == FValue<unsigned char>(255); }, true},
        {"int 3 == double 3.0 (reversed)", [] { return FValue<int>(3) == FValue<double>(3.0); }, true},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(c.compare(), c.equal) << c.what;
    }
}

// --- Copies ---

TEST(FTypeValueTest, CopiesAreDeepExceptBorrowedTextAndSharedObjects) {
    FValue<FGStr<char>> original(FGStr<char>("name"), FGStr<char>("abc"));
    FValue<FGStr<char>> copy(original);
    original.value() = "changed";
    EXPECT_EQ(text(copy), "abc");
    EXPECT_TRUE(copy.name() == "name");

    FValue<TFBinary<unsigned char>> owned{TFBinary<unsigned char>(kBytes, 2)};
    FValue<TFBinary<unsigned char>> const ownedCopy(owned);
    EXPECT_NE(ownedCopy.value().data(), owned.value().data());
    unsigned char borrowed[] = {0x07};
    FValue<TFBinary<unsigned char>> const lent{TFBinary<unsigned char>::borrow(borrowed, 1)};
    FValue<TFBinary<unsigned char>> const lentCopy(lent);
    EXPECT_EQ(lentCopy.value().data(), borrowed);

    int destroyed = 0;
    {
        auto* object = new Probe(&destroyed);
        Value const held{FObjectReference(object)};
        EXPECT_EQ(object->refCount(), 1);
        {
            Value const shared(held);
            std::unique_ptr<Value> const cloned(held.clone());
            EXPECT_EQ(object->refCount(), 3);
        }
        EXPECT_EQ(object->refCount(), 1);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(FTypeValueTest, AssignmentKeepsTheNameAndSurvivesAliasing) {
    FValue<int> target(FGStr<char>("target"), 1);
    Value const source = [] {
        Value v(FGStr<char>("text"));
        v.setName("source");
        return v;
    }();
    static_cast<Value&>(target) = source;
    EXPECT_TRUE(target.name() == "target");
    EXPECT_EQ(target.typeId(), FTypeString);
    EXPECT_EQ(text(target), "text");
    EXPECT_THROW((void)target.value(), FInvalidOperationException); // no longer an int

    Value& alias = target;
    target = static_cast<FValue<int> const&>(alias);
    EXPECT_EQ(text(target), "text");

    FValueArrayBase array(FTypeString);
    array.ArrayAdd(Value(FGStr<char>("only")));
    Value& holder = array;
    holder = array.ArrayItem(0); // the source dies with the old content
    EXPECT_EQ(text(holder), "only");
    EXPECT_EQ(holder.typeId(), FTypeString);
}

// --- Arrays ---

TEST(FTypeValueTest, ArraysCountReplaceAndRemoveItems) {
    FValueArrayBase array(FTypeInt32);
    EXPECT_EQ(array.typeId(), static_cast<FTypeId>(0x80000080u));
    EXPECT_EQ(array.ArrayType(), FTypeInt32);
    EXPECT_EQ(array.ArrayItemSize(), 4u);
    for (int i = 1; i <= 3; ++i) {
        array.ArrayAdd(FValue<int>(i * 10));
    }
    EXPECT_EQ(array.ArrayItemCount(), 3u);
    EXPECT_THROW(array.ArrayItem(3), FOutOfBoundsException);
    array.ArrayItem(5, FValue<int>(40));    // beyond the end: appended
    array.ArrayItem(0, array.ArrayItem(0)); // replaced by a copy of itself
    array.ArrayItem(1, FValue<int>(21));
    EXPECT_TRUE(array.ArrayRemove(2));
    EXPECT_FALSE(array.ArrayRemove(3));
    int const expected[] = {10, 21, 40};
    ASSERT_EQ(array.ArrayItemCount(), 3u);
    for (unsigned int i = 0; i < 3; ++i) {
        EXPECT_TRUE(array.ArrayItem(i) == FValue<int>(expected[i])) << i;
    }

    FValueArrayBase single(FTypeInt32);
    single.ArrayAdd(FValue<int>(1));
    EXPECT_TRUE(single.ArrayRemove(0));
    EXPECT_EQ(single.ArrayItemCount(), 0u);
    EXPECT_EQ(single.content(), nullptr);
    EXPECT_THROW(single.ArrayItem(0), FOutOfBoundsException);
}

TEST(FTypeValueTest, ArraysTakeOverItemsOnlyOnce) {
    FValueArrayBase array(FTypeInt32);
    auto* item = new FValue<int>(7);
    array.ArrayAdd(item);
    array.ArrayAdd(item);
    array.ArrayAdd(static_cast<Value*>(nullptr));
    array.ArrayAdd(&array);
    EXPECT_EQ(array.ArrayItemCount(), 1u);
    EXPECT_EQ(&array.ArrayItem(0), item);

    Value notAnArray(FGStr<char>("x"));
    FValueArrayBase::ArrayAdd(notAnArray, new FValue<int>(1)); // freed, not added
    FValueArrayBase::ArrayAdd(notAnArray, FValue<int>(2));
    EXPECT_EQ(FValueArrayBase::ArrayItemCount(notAnArray), 0u);
    EXPECT_THROW(FValueArrayBase::ArrayItem(notAnArray, 0), FOutOfBoundsException);
    EXPECT_EQ(text(notAnArray), "x");
}

TEST(FTypeValueTest, ArrayCopiesAreDeepAndCompareItemByItem) {
    FValueArrayBase array(FTypeString);
    array.ArrayAdd(Value(FGStr<char>("a")));
    array.ArrayAdd(Value(FGStr<char>("b")));
    Value const copy(array); // a plain value holding the array
    EXPECT_TRUE(copy == array);
    EXPECT_EQ(FValueArrayBase::ArrayItemCount(copy), 2u);
    EXPECT_NE(&FValueArrayBase::ArrayItem(copy, 0), &array.ArrayItem(0));
    array.ArrayItem(1, Value(FGStr<char>("c")));
    EXPECT_FALSE(copy == array);
    array.ArrayRemove(1);
    EXPECT_FALSE(copy == array);
    array.ArrayClear();
    EXPECT_EQ(array.ArrayItemCount(), 0u);
    EXPECT_TRUE(array == FValueArrayBase(FTypeString));
    EXPECT_FALSE(array == FValueArrayBase(FTypeInt32));
}

// --- Structures and raw blocks ---

TEST(FTypeValueTest, StructuresCopyAndCompareMemberByMember) {
    Structure* block = Structure::create("point", 2);
    block->Member(0) = FValue<int>(1);
    block->Member(1) = Value(FGStr<char>("one"));
    block->Member(1).setName("label");
    Value const value(block);
    EXPECT_EQ(value.typeId(), FTypeStructure);
    EXPECT_EQ(text(value), "");
    EXPECT_THROW(value.structure()->Member(2), FOutOfBoundsException);

    Value copy(value);
    Structure* copied = copy.structure();
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(copied, block);
    EXPECT_TRUE(copied->StructName() == "point");
    EXPECT_EQ(copied->MemberCount(), 2u);
    EXPECT_TRUE(copied->Member(1).name() == "label");
    EXPECT_TRUE(copy == value);
    copied->Member(0) = FValue<int>(2);
    EXPECT_FALSE(copy == value);

    Value renamed(Structure::create("other", 2));
    renamed.structure()->Member(0) = FValue<int>(1);
    renamed.structure()->Member(1) = Value(FGStr<char>("one"));
    EXPECT_TRUE(renamed == value); // the structure's name is not compared
    EXPECT_FALSE(Value(Structure::create("point", 1)) == value);
    EXPECT_EQ(Value(static_cast<Structure*>(nullptr)).typeId(), FTypeNone);
    ReleaseContentOfValue(copy);
    ReleaseContentOfStructure(*copied);
    EXPECT_TRUE(copy.structure()->Member(0) == FValue<int>(2));
}

TEST(FTypeValueTest, RawBlocksCopyTheirBytes) {
    unsigned char bytes[] = {1, 2, 3};
    Value const block(bytes, 3u);
    bytes[0] = 9;
    EXPECT_EQ(block.typeId(), FTypeMemory);
    EXPECT_EQ(block.size(), 3u);
    EXPECT_EQ(static_cast<unsigned char const*>(block.content())[0], 1);
    Value const copy(block);
    EXPECT_TRUE(copy == block);
    EXPECT_NE(copy.content(), block.content());
    Value const none(nullptr, 5u);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_TRUE(none == Value(bytes, 0u));
}
