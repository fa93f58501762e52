// Dynamically typed values of the FSpace library.
//
// A value knows its kind (an FTypeId), owns a heap cell holding its content,
// has a name, and can be copied (deeply), compared and rendered as text. Log
// records keep their fields as values; named methods of FDispatchable take and
// give lists of them.
//
//  - TFType<FTypeId>: kind, content and content size.
//  - TFValueBase<FTypeId>: a TFType with a name; the type everything else uses.
//  - FValue<T, id>: a value whose kind is fixed to id and whose content is a T,
//    with typed access.
//  - FValueArrayBase: a value holding an owned array of values.
//  - TFValueStructureBase<FTypeId, char>: the content of a structure value, a
//    named block of member values.
//  - TFBinary<unsigned char>: a byte block, the content of binary values.
//
// Ownership: a value owns its content and everything in it, except the text
// behind the two borrowed text-pointer kinds and the object behind a reference
// (shared through its counter). Copies are deep except for those two.
//
// Values are not synchronised: one thread at a time per value. Reference-kind
// values count with atomic operations, so copies may die on different threads.
#pragma once

#include "FType.h"

#include <type_traits>

namespace FSpace {

/// The kind of a value: one bit per kind. FTypeArray (bit 31) marks an array
/// whose items are of the kind in the low 31 bits.
enum FTypeId : unsigned int {
    FTypeNone = 0,
    FTypeBool = 0x2,
    FTypeUInt8 = 0x4,
    FTypeInt8 = 0x8,
    FTypeUInt16 = 0x10,
    FTypeInt16 = 0x20,
    FTypeUInt32 = 0x40,
    FTypeInt32 = 0x80,
    FTypeUInt64 = 0x100,
    FTypeInt64 = 0x200,
    FTypeFloat = 0x1000,
    FTypeDouble = 0x2000,
    FTypeChar = 0x10000,
    FTypeWChar = 0x20000,
    FTypeCharPtr = 0x40000,  ///< char const*, borrowed
    FTypeWCharPtr = 0x80000, ///< wchar_t const*, borrowed
    FTypeString = 0x100000,
    FTypeWString = 0x200000,
    FTypeBinary = 0x400000,
    FTypeBitField = 0x800000,
    FTypeTime = 0x1000000,
    FTypeGUID = 0x2000000,
    FTypeStructure = 0x4000000,
    FTypeReference = 0x8000000,
    FTypePointer = 0x10000000, ///< void*, the address itself
    FTypeMemory = 0x20000000,  ///< a raw block of size bytes
    FTypeArray = 0x80000000,
};

/// The content type of reference-kind values.
using FObjectReference = FReference<FObject, TFRefCounter<int>>;

template <typename T>
class TFBinary;

/// A block of bytes: data, size and whether the block owns the bytes. Copying an
/// owned block copies the bytes; copying a borrowed one copies the pointer.
template <>
class TFBinary<unsigned char> {
public:
    TFBinary() noexcept = default;
    /// An owned copy of \p size bytes; empty for size < 1 or null data.
    TFBinary(unsigned char const* data, long size);
    /// A block that refers to \p size bytes at \p data without owning them; the
    /// bytes must outlive the block and all its copies.
    static TFBinary borrow(unsigned char* data, long size) noexcept;
    TFBinary(TFBinary const& other);
    TFBinary(TFBinary&& other) noexcept;
    TFBinary& operator=(TFBinary const& other);
    TFBinary& operator=(TFBinary&& other) noexcept;
    ~TFBinary() { clear(); }

    /// Frees owned bytes and zeroes all three fields.
    void clear() noexcept;
    unsigned char* data() const noexcept { return m_pData; }
    long size() const noexcept { return m_size; }
    bool isOwned() const noexcept { return m_owned; }
    /// Equal sizes and equal bytes.
    bool operator==(TFBinary const& other) const noexcept;
    /// Two lower-case hexadecimal digits per byte.
    FGStr<char> toCString() const noexcept;

private:
    unsigned char* m_pData = nullptr;
    long m_size = 0;
    bool m_owned = false;
};

/// The content type of each kind that has one (FTypeOf<kind>::type), and the
/// kind of each content type (FTypeIdOf<T>::value).
template <FTypeId id>
struct FTypeOf;
template <typename T>
struct FTypeIdOf;

#define FSPACE_VALUE_KIND(kind, T)                                                                           \
    template <>                                                                                              \
    struct FTypeOf<kind> {                                                                                   \
        using type = T;                                                                                      \
    };                                                                                                       \
    template <>                                                                                              \
    struct FTypeIdOf<T> : std::integral_constant<FTypeId, kind> {};

FSPACE_VALUE_KIND(FTypeBool, bool)
FSPACE_VALUE_KIND(FTypeUInt8, unsigned char)
FSPACE_VALUE_KIND(FTypeInt8, signed char)
FSPACE_VALUE_KIND(FTypeUInt16, unsigned short)
FSPACE_VALUE_KIND(FTypeInt16, short)
FSPACE_VALUE_KIND(FTypeUInt32, unsigned int)
FSPACE_VALUE_KIND(FTypeInt32, int)
FSPACE_VALUE_KIND(FTypeUInt64, unsigned long long)
FSPACE_VALUE_KIND(FTypeInt64, long long)
FSPACE_VALUE_KIND(FTypeFloat, float)
FSPACE_VALUE_KIND(FTypeDouble, double)
FSPACE_VALUE_KIND(FTypeChar, char)
FSPACE_VALUE_KIND(FTypeWChar, wchar_t)
FSPACE_VALUE_KIND(FTypeCharPtr, char const*)
FSPACE_VALUE_KIND(FTypeWCharPtr, wchar_t const*)
FSPACE_VALUE_KIND(FTypeString, FGStr<char>)
FSPACE_VALUE_KIND(FTypeWString, FGStr<wchar_t>)
FSPACE_VALUE_KIND(FTypeBinary, TFBinary<unsigned char>)
FSPACE_VALUE_KIND(FTypeBitField, FBITFIELD)
FSPACE_VALUE_KIND(FTypeTime, FTime)
FSPACE_VALUE_KIND(FTypeGUID, FGUID)
FSPACE_VALUE_KIND(FTypeReference, FObjectReference)
FSPACE_VALUE_KIND(FTypePointer, void*)

#undef FSPACE_VALUE_KIND

template <typename TId>
class TFType;
template <typename TId, typename TChar>
class TFValueStructureBase;
class FValueArrayBase;

/// Kind, content and content size. The content is a heap cell of the kind's
/// type (for arrays: a null-terminated array of owned item pointers; for
/// structures: a structure block; for raw blocks: size bytes), or null.
template <>
class TFType<FTypeId> {
public:
    /// An empty value: kind 0, no content.
    TFType() noexcept = default;
    /// Kind FTypeReference: the content is a new reference to the object.
    explicit TFType(FReference<FObject, TFRefCounter<int>> const& object);
    /// Deep copy (see the file comment for what is shared).
    TFType(TFType const& other);
    /// Takes over the content; the source becomes empty.
    TFType(TFType&& other) noexcept;
    /// Deep copy of kind, size and content. The copy is made before the old
    /// content is released, so assigning a value to itself or to a part of its
    /// own content is safe.
    TFType& operator=(TFType const& other);
    TFType& operator=(TFType&& other) noexcept;
    virtual ~TFType();

    virtual TFType* clone() const;

    /// Destroys the content (strings, blocks, times, identifiers and bit fields
    /// are destroyed, a reference is released, borrowed texts are left alone) and
    /// leaves an empty value. The content is always destroyed as the kind it was
    /// made for, whatever \p kind says.
    void clear(FTypeId kind) noexcept;
    void clear() noexcept { clear(m_typeId); }

    FTypeId typeId() const noexcept { return m_typeId; }
    /// Content size in bytes (for arrays: the size of one item's content).
    unsigned int size() const noexcept { return m_size; }
    void* content() const noexcept { return m_pContent; }
    bool isArray() const noexcept { return (m_typeId & FTypeArray) != 0; }

    /// Content size of a value of \p kind (of an item for array kinds); 0 for
    /// kinds without a fixed size.
    static unsigned int sizeOfKind(FTypeId kind) noexcept;

protected:
    /// Adopts \p content, which must have been made for \p kind.
    TFType(FTypeId kind, unsigned int size, void* content) noexcept
        : m_pContent(content), m_typeId(kind), m_size(size) {}

private:
    friend class FValueArrayBase;

    void* m_pContent = nullptr;
    FTypeId m_typeId = FTypeNone;
    unsigned int m_size = 0;
};

/// A named value. Equality and text depend on the kind (see operator== and
/// toCString); the name takes part in neither.
template <>
class TFValueBase<FTypeId> : public TFType<FTypeId> {
public:
    /// An empty value (kind 0).
    TFValueBase() noexcept = default;
    /// Kind FTypeString / FTypeWString with a copy of the text.
    explicit TFValueBase(FGStr<char> const& text);
    explicit TFValueBase(FGStr<wchar_t> const& text);
    /// Kind FTypeReference: shares the object (its counter goes up).
    explicit TFValueBase(FReference<FObject, TFRefCounter<int>> const& object);
    /// Kind FTypeStructure; the value takes over \p structure (null gives an
    /// empty value).
    explicit TFValueBase(TFValueStructureBase<FTypeId, char>* structure) noexcept;
    /// Kind FTypeMemory with a copy of \p size bytes (none for null bytes).
    TFValueBase(void const* bytes, unsigned int size);
    /// Copies the name and the content.
    TFValueBase(TFValueBase const& other);
    TFValueBase(TFValueBase&& other) noexcept;
    /// Copies kind, size and content; the name stays.
    TFValueBase& operator=(TFValueBase const& other);
    TFValueBase& operator=(TFValueBase&& other) noexcept;
    ~TFValueBase() override;

    /// A new FValue of \p kind holding zero: numbers and characters 0, pointers
    /// and text pointers null, empty strings and blocks, the current time, a
    /// cleared identifier, an empty reference. Other kinds (bit fields,
    /// structures, raw blocks, arrays) give an empty TFValueBase of kind 0.
    static TFValueBase* createType(FTypeId kind);

    /// A new value with the same name, kind, size and a deep copy of the content.
    TFValueBase* clone() const override;

    /// Values of different kinds are unequal. Numbers, characters and bool
    /// compare their content (NaN is unequal to itself); the text-pointer and
    /// void* kinds compare addresses; strings compare text; blocks compare size
    /// and bytes; times and identifiers use their own equality; references are
    /// equal when they share the object (or both have none); structures and
    /// arrays compare counts and then members or items in order. Empty values
    /// and bit-field values are never equal.
    bool operator==(TFValueBase const& other) const noexcept;

    /// Text of the content: decimal numbers, '1' or '0', the character or text
    /// (wide text narrowed to its low 8 bits; a null text pointer is empty),
    /// lower-case hexadecimal of a block, the time's and identifier's own text,
    /// 16 hexadecimal digits of a pointer (bytes in memory order). Empty for the
    /// other kinds.
    FGStr<char> toCString() const noexcept;

    FGStr<char> const& name() const noexcept { return m_name; }
    void setName(FGStr<char> const& name) { m_name = name; }
    /// The structure block of a structure value, otherwise null.
    TFValueStructureBase<FTypeId, char>* structure() const noexcept;

protected:
    /// Adopts \p content, made for \p kind; the size comes from the kind.
    TFValueBase(FTypeId kind, void* content) noexcept : TFType(kind, sizeOfKind(kind), content) {}

private:
    FGStr<char> m_name;
};

template <typename TChar>
class TFStructuralBase;

/// Head of a structure block: the structure's name and its member count.
template <>
class TFStructuralBase<char> {
public:
    TFStructuralBase(TFStructuralBase const&) = delete;
    TFStructuralBase& operator=(TFStructuralBase const&) = delete;

    FGStr<char> const& StructName() const noexcept { return m_name; }
    unsigned int MemberCount() const noexcept { return m_count; }

protected:
    TFStructuralBase(FGStr<char> const& name, unsigned int count) : m_name(name), m_count(count) {}
    ~TFStructuralBase() = default;

private:
    FGStr<char> m_name;
    unsigned int m_count;
};

/// A structure block: one allocation holding the head and then MemberCount()
/// member values, one after the other. Blocks are made and freed only through
/// the static functions (or by the value that owns them).
template <>
class TFValueStructureBase<FTypeId, char> : public TFStructuralBase<char> {
public:
    /// A new block with \p count empty members.
    static TFValueStructureBase* create(FGStr<char> const& name, unsigned int count);
    /// Destroys the members, last first, and frees the block; null is accepted.
    static void release(TFValueStructureBase* block) noexcept;

    /// A new block of the same shape with copies of the name and every member.
    TFValueStructureBase* StructCopy() const;
    /// Member \p i; throws FOutOfBoundsException for i >= MemberCount().
    TFValueBase<FTypeId>& Member(unsigned int i);
    TFValueBase<FTypeId> const& Member(unsigned int i) const;

private:
    TFValueStructureBase(FGStr<char> const& name, unsigned int count) : TFStructuralBase(name, count) {}
    ~TFValueStructureBase() = default;

    /// Builds a block whose members are empty (\p source null) or copies of
    /// \p source's members.
    static TFValueStructureBase* build(FGStr<char> const& name, unsigned int count,
                                       TFValueStructureBase const* source);
    TFValueBase<FTypeId>* members() const noexcept;
};

/// An array value: kind = item kind | FTypeArray, size = the item kind's content
/// size, content = the owned items. Items may be of any kind; nothing checks
/// them against the array's kind.
///
/// Each operation also exists as a static function taking the array as a
/// TFValueBase (for example a copy of an array value); on a value that is not
/// an array they see no items and add nothing.
class FValueArrayBase : public TFValueBase<FTypeId> {
public:
    /// An empty array of \p itemKind items.
    explicit FValueArrayBase(FTypeId itemKind) noexcept;
    FValueArrayBase(FValueArrayBase const& other) = default;
    FValueArrayBase(FValueArrayBase&& other) noexcept = default;
    FValueArrayBase& operator=(FValueArrayBase const& other) = default;
    FValueArrayBase& operator=(FValueArrayBase&& other) noexcept = default;
    ~FValueArrayBase() override = default;

    FValueArrayBase* clone() const override { return new FValueArrayBase(*this); }

    unsigned int ArrayItemCount() const noexcept { return ArrayItemCount(*this); }
    /// Item \p i; throws FOutOfBoundsException for i >= ArrayItemCount().
    TFValueBase<FTypeId>& ArrayItem(unsigned int i) const { return ArrayItem(*this, i); }
    /// Replaces item \p i by a copy of \p value; for i >= ArrayItemCount() appends it.
    void ArrayItem(unsigned int i, TFValueBase<FTypeId> const& value) { ArrayItem(*this, i, value); }
    /// Appends a copy of \p value.
    void ArrayAdd(TFValueBase<FTypeId> const& value) { ArrayAdd(*this, value); }
    /// Appends \p item and takes it over. A null item, the array itself or an
    /// item the array already holds is not added again.
    void ArrayAdd(TFValueBase<FTypeId>* item) { ArrayAdd(*this, item); }
    /// Destroys item \p i and moves the later ones down; false (nothing changed)
    /// for i >= ArrayItemCount().
    bool ArrayRemove(unsigned int i) noexcept { return ArrayRemove(*this, i); }
    void ArrayClear() noexcept { ArrayClear(*this); }
    /// The item kind (the kind without FTypeArray).
    FTypeId ArrayType() const noexcept { return ArrayType(*this); }
    unsigned int ArrayItemSize() const noexcept { return ArrayItemSize(*this); }

    static unsigned int ArrayItemCount(TFValueBase<FTypeId> const& array) noexcept;
    static TFValueBase<FTypeId>& ArrayItem(TFValueBase<FTypeId> const& array, unsigned int i);
    static void ArrayItem(TFValueBase<FTypeId>& array, unsigned int i, TFValueBase<FTypeId> const& value);
    static void ArrayAdd(TFValueBase<FTypeId>& array, TFValueBase<FTypeId> const& value);
    static void ArrayAdd(TFValueBase<FTypeId>& array, TFValueBase<FTypeId>* item);
    static bool ArrayRemove(TFValueBase<FTypeId>& array, unsigned int i) noexcept;
    static void ArrayClear(TFValueBase<FTypeId>& array) noexcept;
    static FTypeId ArrayType(TFValueBase<FTypeId> const& array) noexcept;
    static unsigned int ArrayItemSize(TFValueBase<FTypeId> const& array) noexcept;

private:
    static TFValueBase<FTypeId>** items(TFValueBase<FTypeId> const& array) noexcept;
};

/// A value whose kind is \p id and whose content is a T. Copies and moves copy
/// deeply (a value always keeps its content).
template <typename T, FTypeId id = FTypeIdOf<T>::value>
class FValue : public TFValueBase<FTypeId> {
    static_assert(std::is_same_v<T, typename FTypeOf<id>::type>, "the kind does not hold this type");

public:
    /// Zero content, as createType gives it.
    FValue() : TFValueBase(id, newZero()) {}
    explicit FValue(T const& value) : TFValueBase(id, new T(value)) {}
    FValue(FGStr<char> const& name, T const& value) : FValue(value) { setName(name); }
    FValue(FValue const& other) = default;
    FValue& operator=(FValue const& other) = default;
    ~FValue() override = default;

    FValue& operator=(T const& value) {
        this->value() = value;
        return *this;
    }
    FValue* clone() const override { return new FValue(*this); }

    /// The content. Throws FInvalidOperationException if the value was given
    /// another kind through a base-class assignment.
    T& value() { return *cell(); }
    T const& value() const { return *cell(); }

private:
    static T* newZero() {
        if constexpr (std::is_same_v<T, FTime>) {
            return new FTime(true);
        } else {
            return new T();
        }
    }
    T* cell() const {
        if (typeId() != id || content() == nullptr) {
            throw FInvalidOperationException();
        }
        return static_cast<T*>(content());
    }
};

template <typename T, typename... Ts>
inline constexpr bool FIsOneOf = (std::is_same_v<T, Ts> || ...);

/// The pairs (first, second) of content types that compare across kinds.
template <typename A, typename B>
inline constexpr bool FCrossComparable =
    (FIsOneOf<A, double, float> &&
     FIsOneOf<B, long long, int, short, signed char, unsigned int, unsigned short, unsigned char>) ||
    (FIsOneOf<A, unsigned long long, long long> &&
     FIsOneOf<B, int, short, signed char, unsigned int, unsigned short, unsigned char>) ||
    (FIsOneOf<A, unsigned int, int> && FIsOneOf<B, short, signed char, unsigned short, unsigned char>) ||
    (FIsOneOf<A, unsigned short, short> && FIsOneOf<B, signed char, unsigned char>) ||
    (std::is_same_v<A, unsigned char> && std::is_same_v<B, signed char>) ||
    (std::is_same_v<A, signed char> && std::is_same_v<B, unsigned char>);

/// Compares across kinds: \p b's content is converted to A by the ordinary
/// conversions (integers wrap, signed sources sign-extend), so a double 3.0
/// equals an int 3 and the largest unsigned long long equals an int -1. The
/// operands may also be given the other way round.
template <typename A, FTypeId ia, typename B, FTypeId ib>
requires FCrossComparable<A, B>
bool operator==(FValue<A, ia> const& a, FValue<B, ib> const& b) {
    return a.value() == static_cast<A>(b.value());
}

/// No effect: a value releases its own content (structure members, array items)
/// when it is destroyed or reassigned, so there is nothing to release ahead of it.
inline void ReleaseContentOfValue(TFValueBase<FTypeId>&) noexcept {}
inline void ReleaseContentOfStructure(TFStructuralBase<char>&) noexcept {}

} // namespace FSpace
