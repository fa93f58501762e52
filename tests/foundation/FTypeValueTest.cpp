#include "FTypeValue.h"
#include "FoundationTestSupport.h"

#include <cmath>
#include <limits>
#include <typeinfo>

using namespace FSpace;
using namespace foundation_test;

namespace {

using Value = TFValueBase<FTypeId>;
using Structure = TFValueStructureBase<FTypeId, char>;
using Binary = TFBinary<unsigned char>;

/// "size:text" of a value made by createType; a wrong kind or a name shows too.
std::string created(FTypeId kind) {
    std::unique_ptr<Value> const v(Value::createType(kind));
    std::string result = std::to_string(v->size()) + ":" + text(*v);
    if (v->typeId() != kind)
        result += " of kind " + std::to_string(v->typeId());
    return v->name().isEmpty() ? result : result + " named";
}

/// The text of \p value; a clone that renders otherwise, or is of another class, shows too.
std::string rendering(Value const& value) {
    std::unique_ptr<Value> const clone(value.clone());
    std::string result = text(value);
    if (text(*clone) != result)
        result += " (clone: " + text(*clone) + ")";
    return typeid(*clone) == typeid(value) ? result : result + " (clone of another class)";
}

Value named(Value v, char const* name) {
    v.setName(name);
    return v;
}

unsigned char const kBytes[] = {0x01, 0xAB};

} // namespace

TEST(FTypeValueTest, CreateTypeGivesZeroContentOfTheKindsSize) {
    EXPECT_ROWS(std::string, {created(FTypeBool), "1:0"}, {created(FTypeUInt8), "1:0"},
                {created(FTypeInt8), "1:0"}, {created(FTypeUInt16), "2:0"}, {created(FTypeInt16), "2:0"},
                {created(FTypeUInt32), "4:0"}, {created(FTypeInt32), "4:0"}, {created(FTypeUInt64), "8:0"},
                {created(FTypeInt64), "8:0"}, {created(FTypeFloat), "4:0"}, {created(FTypeDouble), "8:0"},
                {created(FTypeChar), "1:"}, {created(FTypeWChar), "4:"}, {created(FTypeCharPtr), "8:"},
                {created(FTypeWCharPtr), "8:"}, {created(FTypeString), "8:"}, {created(FTypeWString), "8:"},
                {created(FTypeBinary), "24:"}, {created(FTypeReference), "16:"},
                {created(FTypePointer), "8:0000000000000000"},
                {created(FTypeGUID), "16:{00000000-0000-0000-0000-000000000000}"});
    std::unique_ptr<Value> const time(Value::createType(FTypeTime));
    auto* typedTime = dynamic_cast<FValue<FTime>*>(time.get());
    ASSERT_TRUE(typedTime != nullptr && time->size() == 10u);
    EXPECT_FALSE(typedTime->value().isCleared()); // made as "now"
    for (unsigned kind : {0x0u, 0x1u, 0x6u, 0x800000u, 0x4000000u, 0x20000000u, 0x80000080u}) {
        std::unique_ptr<Value> const v(Value::createType(static_cast<FTypeId>(kind)));
        EXPECT_TRUE(v->typeId() == FTypeNone && v->size() == 0u && v->content() == nullptr)
            << std::hex << kind;
    }
}

TEST(FTypeValueTest, EachKindRendersItsContentAndClonesKeepTheirClass) {
    char const* const narrow = "abc";
    wchar_t const* const wide = L"w\u00e9";
    EXPECT_ROWS(
        std::string, {rendering(FValue<bool>(true)), "1"}, {rendering(FValue<unsigned char>(200)), "200"},
        {rendering(FValue<signed char>(-128)), "-128"}, {rendering(FValue<short>(-32768)), "-32768"},
        {rendering(FValue<int>(-7)), "-7"},
        {rendering(FValue<unsigned long long>(18446744073709551615ULL)), "18446744073709551615"},
        {rendering(FValue<long long>(std::numeric_limits<long long>::min())), "-9223372036854775808"},
        {rendering(FValue<float>(0.5f)), "0.5"}, {rendering(FValue<double>(-1.25)), "-1.25"},
        {rendering(FValue<char>('x')), "x"}, {rendering(FValue<char, static_cast<FTypeId>(65536)>('y')), "y"},
        {rendering(FValue<wchar_t>(L'\u20ac')), "\xac"}, {rendering(FValue<char const*>(narrow)), "abc"},
        {rendering(FValue<wchar_t const*>(wide)), "w\xe9"}, {rendering(Value(FGStr<char>("abc"))), "abc"},
        {rendering(Value(FGStr<wchar_t>(L"\u00e9"))), "\xe9"},
        {rendering(FValue<Binary>(Binary(kBytes, 2))), "01ab"},
        {rendering(FValue<void*>(reinterpret_cast<void*>(0x1234))), "3412000000000000"},
        {rendering(FValue<FTime>(FTime(2026, 12, 5, 14, 44, 1, 123))), "2026-12-05T14:44:01"},
        {rendering(FValue<FGUID>(FGUID(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11))),
         "{00000001-0002-0003-0405-060708090a0b}"},
        {rendering(FValue<FBITFIELD>(FBITFIELD(3))), ""},
        {rendering(Value(FObjectReference(new FObject))), ""}, {rendering(Value(kBytes, 2u)), ""},
        {rendering(FValueArrayBase(FTypeInt32)), ""});
}

TEST(FTypeValueTest, EqualityDependsOnTheKind) {
    char const first[] = "same";
    char const second[] = "same";
    unsigned char borrowedBytes[] = {0x01, 0xAB};
    std::atomic<int> destroyed{0};
    auto* object = new Probe(&destroyed);
    FObjectReference const shared(object);
    FObjectReference const other(new Probe(&destroyed));
    double const nan = std::nan("");
    FGUID const guid(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
    using Owned = FValue<Binary>;
    std::tuple<char const*, Value, Value, bool> const cases[] = {
        {"text pointers to equal texts", FValue<char const*>(first), FValue<char const*>(second), false},
        {"the same text pointer", FValue<char const*>(first), FValue<char const*>(first), true},
        {"names differ", named(Value(FGStr<char>("abc")), "x"), named(Value(FGStr<char>("abc")), "y"), true},
        {"3 and 3u", FValue<int>(3), FValue<unsigned int>(3u), false},
        {"NaN", FValue<double>(nan), FValue<double>(nan), false},
        {"0.0 and -0.0", FValue<double>(0.0), FValue<double>(-0.0), true},
        {"empty values", Value(), Value(), false},
        {"bit fields", FValue<FBITFIELD>(FBITFIELD(2)), FValue<FBITFIELD>(FBITFIELD(2)), false},
        {"owned and borrowed bytes", Owned(Binary(kBytes, 2)), Owned(Binary::borrow(borrowedBytes, 2)), true},
        {"blocks of other sizes", Owned(Binary(kBytes, 2)), Owned(Binary(kBytes, 1)), false},
        {"raw blocks", Value(kBytes, 2u), Value(borrowedBytes, 2u), true},
        {"references to one object", Value(shared), Value(FObjectReference(object)), true},
        {"references to two objects", Value(shared), Value(other), false},
        {"empty references", Value(FObjectReference()), Value(FObjectReference()), true},
        {"pointers", FValue<void*>(const_cast<char*>(first)), FValue<void*>(const_cast<char*>(first)), true},
        {"identifiers", FValue<FGUID>(guid), FValue<FGUID>(guid), true},
        {"times 1 ms apart", FValue<FTime>(FTime(2024, 1, 1, 0, 0, 0, 1)),
         FValue<FTime>(FTime(2024, 1, 1, 0, 0, 0, 2)), false}};
    for (auto const& [what, a, b, equal] : cases) {
        EXPECT_EQ(a == b, equal) << what;
        EXPECT_EQ(b == a, equal) << what;
    }
}

TEST(FTypeValueTest, CrossTypeEqualityConvertsTheSecondOperand) {
    unsigned long long const largest = std::numeric_limits<unsigned long long>::max();
    EXPECT_ROWS(bool, {FValue<double>(3.0) == FValue<int>(3), true},
                {FValue<double>(3.5) == FValue<int>(3), false}, {FValue<int>(3) == FValue<double>(3.0), true},
                {FValue<unsigned long long>(largest) == FValue<int>(-1), true},
                {FValue<long long>(-1) == FValue<unsigned int>(4294967295u), false},
                {FValue<unsigned int>(4294967295u) == FValue<short>(-1), true},
                {FValue<int>(-1) == FValue<unsigned short>(65535), false},
                {FValue<float>(2.0f) == FValue<unsigned char>(2), true},
                {FValue<unsigned short>(65535) == FValue<signed char>(-1), true},
                {FValue<signed char>(-1) == FValue<unsigned char>(255), true});
}

TEST(FTypeValueTest, CopiesAreDeepExceptBorrowedBytesAndSharedObjects) {
    FValue<FGStr<char>> original(FGStr<char>("name"), FGStr<char>("abc"));
    FValue<FGStr<char>> copy(original);
    original.value() = "changed";
    EXPECT_EQ(text(copy) + text(copy.name()), "abcname");
    // Owned bytes are copied, borrowed ones are not; objects are shared.
    FValue<Binary> owned{Binary(kBytes, 2)};
    unsigned char borrowed[] = {0x07};
    FValue<Binary> const lent{Binary::borrow(borrowed, 1)};
    EXPECT_TRUE(FValue<Binary>(owned).value().data() != owned.value().data() &&
                FValue<Binary>(lent).value().data() == borrowed);
    // Raw blocks copy their bytes when made and when copied; without bytes they are empty.
    unsigned char bytes[] = {1, 2, 3};
    Value const block(bytes, 3u), none(nullptr, 5u);
    bytes[0] = 9;
    Value const blockCopy(block);
    EXPECT_ROWS(bool, {block.typeId() == FTypeMemory && block.size() == 3u, true},
                {static_cast<unsigned char const*>(block.content())[0] == 1, true},
                {blockCopy == block && blockCopy.content() != block.content(), true},
                {none.size() == 0u, true}, {none == Value(bytes, 0u), true});
    std::atomic<int> destroyed{0};
    {
        auto* object = new Probe(&destroyed);
        Value const held{FObjectReference(object)};
        {
            Value const shared(held);
            std::unique_ptr<Value> const cloned(held.clone());
            EXPECT_EQ(object->refCount(), 3);
        }
        EXPECT_EQ(object->refCount(), 1);
    }
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(FTypeValueTest, AssignmentKeepsTheNameAndSurvivesAliasing) {
    FValue<int> target(FGStr<char>("target"), 1);
    static_cast<Value&>(target) = named(Value(FGStr<char>("text")), "source");
    EXPECT_EQ(text(target.name()) + ":" + text(target), "target:text");
    EXPECT_EQ(target.typeId(), FTypeString);
    EXPECT_THROW((void)target.value(), FInvalidOperationException); // no longer an int
    Value& alias = target;
    target = static_cast<FValue<int> const&>(alias);
    EXPECT_EQ(text(target), "text");
    // The source may live inside the content that the assignment replaces.
    FValueArrayBase array(FTypeString);
    array.ArrayAdd(Value(FGStr<char>("only")));
    Value& holder = array;
    holder = array.ArrayItem(0);
    EXPECT_TRUE(text(holder) == "only" && holder.typeId() == FTypeString);
}

TEST(FTypeValueTest, ArraysCountReplaceRemoveAndTakeOverItemsOnlyOnce) {
    FValueArrayBase array(FTypeInt32);
    for (int i = 1; i <= 3; ++i)
        array.ArrayAdd(FValue<int>(i * 10));
    EXPECT_ROWS(unsigned long, {array.typeId(), 0x80000080u}, {array.ArrayType(), FTypeInt32},
                {array.ArrayItemSize(), 4u}, {array.ArrayItemCount(), 3u});
    EXPECT_THROW(array.ArrayItem(3), FOutOfBoundsException);
    array.ArrayItem(5, FValue<int>(40));    // beyond the end: appended
    array.ArrayItem(0, array.ArrayItem(0)); // replaced by a copy of itself
    array.ArrayItem(1, FValue<int>(21));
    EXPECT_ROWS(bool, {array.ArrayRemove(2), true}, {array.ArrayRemove(3), false},
                {array.ArrayItemCount() == 3, true}, {array.ArrayItem(0) == FValue<int>(10), true},
                {array.ArrayItem(1) == FValue<int>(21), true}, {array.ArrayItem(2) == FValue<int>(40), true});
    FValueArrayBase single(FTypeInt32);
    single.ArrayAdd(FValue<int>(1));
    EXPECT_TRUE(single.ArrayRemove(0) && single.ArrayItemCount() == 0u && single.content() == nullptr);
    EXPECT_THROW(single.ArrayItem(0), FOutOfBoundsException);
    // Items are taken over only once; null, the array itself and non-arrays take none.
    auto* item = new FValue<int>(7);
    single.ArrayAdd(item), single.ArrayAdd(item);
    single.ArrayAdd(static_cast<Value*>(nullptr)), single.ArrayAdd(&single);
    ASSERT_EQ(single.ArrayItemCount(), 1u);
    EXPECT_EQ(&single.ArrayItem(0), item);
    Value notAnArray(FGStr<char>("x"));
    FValueArrayBase::ArrayAdd(notAnArray, new FValue<int>(1)); // freed, not added
    FValueArrayBase::ArrayAdd(notAnArray, FValue<int>(2));
    EXPECT_TRUE(FValueArrayBase::ArrayItemCount(notAnArray) == 0u && text(notAnArray) == "x");
}

TEST(FTypeValueTest, ArrayCopiesAreDeepAndCompareItemByItem) {
    FValueArrayBase array(FTypeString);
    array.ArrayAdd(Value(FGStr<char>("a")));
    array.ArrayAdd(Value(FGStr<char>("b")));
    Value const copy(array); // a plain value holding the array
    EXPECT_TRUE(copy == array && FValueArrayBase::ArrayItemCount(copy) == 2u);
    EXPECT_NE(&FValueArrayBase::ArrayItem(copy, 0), &array.ArrayItem(0));
    // Rows are evaluated in order.
    EXPECT_ROWS(bool, {(array.ArrayItem(1, Value(FGStr<char>("c"))), copy == array), false},
                {(array.ArrayRemove(1), copy == array), false},
                {(array.ArrayClear(), array.ArrayItemCount() == 0), true},
                {array == FValueArrayBase(FTypeString), true}, {array == FValueArrayBase(FTypeInt32), false});
}

TEST(FTypeValueTest, StructuresCopyAndCompareMemberByMember) {
    auto point = [](char const* name) {
        Structure* block = Structure::create(name, 2);
        block->Member(0) = FValue<int>(1);
        block->Member(1) = Value(FGStr<char>("one"));
        block->Member(1).setName("label"); // assignment keeps the target's name
        return Value(block);
    };
    Value const value = point("point");
    EXPECT_TRUE(value.typeId() == FTypeStructure && text(value).empty());
    EXPECT_THROW(value.structure()->Member(2), FOutOfBoundsException);
    Value copy(value);
    Structure* copied = copy.structure();
    ASSERT_TRUE(copied != nullptr && copied != value.structure());
    EXPECT_EQ(text(copied->StructName()) + ":" + text(copied->Member(1).name()) + ":" +
                  std::to_string(copied->MemberCount()),
              "point:label:2");
    // Rows are evaluated in order; the structure's name is not compared.
    EXPECT_ROWS(bool, {copy == value, true}, {(copied->Member(0) = FValue<int>(2), copy == value), false},
                {point("other") == value, true}, {Value(Structure::create("point", 1)) == value, false},
                {Value(static_cast<Structure*>(nullptr)).typeId() == FTypeNone, true});
    ReleaseContentOfValue(copy);
    ReleaseContentOfStructure(*copied);
    EXPECT_TRUE(copy.structure()->Member(0) == FValue<int>(2));
}
