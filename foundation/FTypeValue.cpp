#include "FTypeValue.h"

#include <cstring>
#include <new>

namespace FSpace {

namespace {

using Value = TFValueBase<FTypeId>;
using Structure = TFValueStructureBase<FTypeId, char>;

template <FTypeId... ids>
struct KindList {};

/// Every kind whose content is one object of a C++ type.
using TypedKinds = KindList<FTypeBool, FTypeUInt8, FTypeInt8, FTypeUInt16, FTypeInt16, FTypeUInt32,
                            FTypeInt32, FTypeUInt64, FTypeInt64, FTypeFloat, FTypeDouble, FTypeChar,
                            FTypeWChar, FTypeCharPtr, FTypeWCharPtr, FTypeString, FTypeWString, FTypeBinary,
                            FTypeBitField, FTypeTime, FTypeGUID, FTypeReference, FTypePointer>;

/// Calls f(std::type_identity<T>{}) with the content type of \p kind; false if
/// the kind has no single content type.
template <typename F, FTypeId... ids>
bool visitTyped(FTypeId kind, F&& f, KindList<ids...>) {
    return ((kind == ids && (f(std::type_identity<typename FTypeOf<ids>::type>{}), true)) || ...);
}

template <typename F>
bool visitTyped(FTypeId kind, F&& f) {
    return visitTyped(kind, f, TypedKinds{});
}

FTypeId itemKind(FTypeId kind) noexcept {
    return static_cast<FTypeId>(kind & ~FTypeArray);
}

long itemCount(Value* const* items) noexcept {
    long n = 0;
    while (items != nullptr && items[n] != nullptr) {
        ++n;
    }
    return n;
}

void deleteItems(Value** items) noexcept {
    for (long i = itemCount(items) - 1; i >= 0; --i) {
        delete items[i];
    }
    delete[] items;
}

/// A new null-terminated array with clones of the items (null for none).
Value** copyItems(Value* const* items) {
    long const n = itemCount(items);
    if (n == 0) {
        return nullptr;
    }
    auto** copy = new Value*[static_cast<std::size_t>(n) + 1]();
    try {
        for (long i = 0; i < n; ++i) {
            copy[i] = items[i]->clone();
        }
    } catch (...) {
        deleteItems(copy);
        throw;
    }
    return copy;
}

/// A deep copy of content made for \p kind.
void* copyContent(FTypeId kind, void const* content, unsigned int size) {
    if (content == nullptr) {
        return nullptr;
    }
    if ((kind & FTypeArray) != 0) {
        return copyItems(static_cast<Value* const*>(content));
    }
    if (kind == FTypeStructure) {
        return static_cast<Structure const*>(content)->StructCopy();
    }
    if (kind == FTypeMemory) {
        if (size == 0) {
            return nullptr;
        }
        auto* bytes = new unsigned char[size];
        std::memcpy(bytes, content, size);
        return bytes;
    }
    void* copy = nullptr;
    visitTyped(kind,
               [&]<typename T>(std::type_identity<T>) { copy = new T(*static_cast<T const*>(content)); });
    return copy;
}

void deleteContent(FTypeId kind, void* content) noexcept {
    if (content == nullptr) {
        return;
    }
    if ((kind & FTypeArray) != 0) {
        deleteItems(static_cast<Value**>(content));
    } else if (kind == FTypeStructure) {
        Structure::release(static_cast<Structure*>(content));
    } else if (kind == FTypeMemory) {
        delete[] static_cast<unsigned char*>(content);
    } else {
        visitTyped(kind, [&]<typename T>(std::type_identity<T>) { delete static_cast<T*>(content); });
    }
}

template <typename T>
bool equalCells(T const& a, T const& b) noexcept {
    if constexpr (std::is_same_v<T, FBITFIELD>) {
        return false; // bit-field values have no equality
    } else if constexpr (std::is_same_v<T, FReference<FObject, TFRefCounter<int>>>) {
        return a.get() == b.get();
    } else {
        return a == b;
    }
}

bool equalContent(FTypeId kind, void const* a, void const* b, unsigned int size) noexcept {
    if ((kind & FTypeArray) != 0) {
        auto const* left = static_cast<Value* const*>(a);
        auto const* right = static_cast<Value* const*>(b);
        long const n = itemCount(left);
        if (n != itemCount(right)) {
            return false;
        }
        for (long i = 0; i < n; ++i) {
            if (!(*left[i] == *right[i])) {
                return false;
            }
        }
        return true;
    }
    if (kind == FTypeStructure) {
        auto const* left = static_cast<Structure const*>(a);
        auto const* right = static_cast<Structure const*>(b);
        if (left == nullptr || right == nullptr || left->MemberCount() != right->MemberCount()) {
            return false;
        }
        for (unsigned int i = 0; i < left->MemberCount(); ++i) {
            if (!(left->Member(i) == right->Member(i))) {
                return false;
            }
        }
        return true;
    }
    if (kind == FTypeMemory) {
        return size == 0 || (a != nullptr && b != nullptr && std::memcmp(a, b, size) == 0);
    }
    if (a == nullptr || b == nullptr) {
        return false;
    }
    bool equal = false;
    visitTyped(kind, [&]<typename T>(std::type_identity<T>) {
        equal = equalCells(*static_cast<T const*>(a), *static_cast<T const*>(b));
    });
    return equal;
}

template <typename T>
void appendText(FGStr<char>& text, T const& cell) noexcept {
    if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, char> && !std::is_same_v<T, wchar_t>) {
        text << cell; // numbers in decimal, bool as 1 or 0
    } else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, wchar_t>) {
        if (cell != 0) {
            text << static_cast<char>(cell); // wide characters keep their low 8 bits
        }
    } else if constexpr (std::is_same_v<T, char const*> || std::is_same_v<T, FGStr<char>>) {
        text << cell;
    } else if constexpr (std::is_same_v<T, wchar_t const*> || std::is_same_v<T, FGStr<wchar_t>>) {
        text.appendValueOf(static_cast<wchar_t const*>(cell));
    } else if constexpr (std::is_same_v<T, void*>) {
        text.appendValueOf(static_cast<unsigned char const*>(cell));
    } else if constexpr (FIsOneOf<T, TFBinary<unsigned char>, FTime, FGUID>) {
        text << cell.toCString();
    }
    // Bit fields and references have no text.
}

} // namespace

// ---------------------------------------------------------------------------
// TFBinary

TFBinary<unsigned char>::TFBinary(unsigned char const* data, long size) {
    if (data != nullptr && size > 0) {
        m_pData = new unsigned char[static_cast<std::size_t>(size)];
        std::memcpy(m_pData, data, static_cast<std::size_t>(size));
        m_size = size;
        m_owned = true;
    }
}

TFBinary<unsigned char> TFBinary<unsigned char>::borrow(unsigned char* data, long size) noexcept {
    TFBinary block;
    if (data != nullptr && size > 0) {
        block.m_pData = data;
        block.m_size = size;
    }
    return block;
}

TFBinary<unsigned char>::TFBinary(TFBinary const& other)
    : TFBinary(other.m_owned ? TFBinary(other.m_pData, other.m_size) : borrow(other.m_pData, other.m_size)) {}

TFBinary<unsigned char>::TFBinary(TFBinary&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_owned(std::exchange(other.m_owned, false)) {}

TFBinary<unsigned char>& TFBinary<unsigned char>::operator=(TFBinary const& other) {
    if (this != &other) {
        *this = TFBinary(other);
    }
    return *this;
}

TFBinary<unsigned char>& TFBinary<unsigned char>::operator=(TFBinary&& other) noexcept {
    if (this != &other) {
        clear();
        m_pData = std::exchange(other.m_pData, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_owned = std::exchange(other.m_owned, false);
    }
    return *this;
}

void TFBinary<unsigned char>::clear() noexcept {
    if (m_owned) {
        delete[] m_pData;
    }
    m_pData = nullptr;
    m_size = 0;
    m_owned = false;
}

bool TFBinary<unsigned char>::operator==(TFBinary const& other) const noexcept {
    return m_size == other.m_size &&
           (m_size == 0 || std::memcmp(m_pData, other.m_pData, static_cast<std::size_t>(m_size)) == 0);
}

FGStr<char> TFBinary<unsigned char>::toCString() const noexcept {
    FGStr<char> text;
    text.appendHexOf(m_pData, m_size);
    return text;
}

// ---------------------------------------------------------------------------
// TFType

TFType<FTypeId>::TFType(FReference<FObject, TFRefCounter<int>> const& object)
    : TFType(FTypeReference, sizeOfKind(FTypeReference), new FReference<FObject, TFRefCounter<int>>(object)) {
}

TFType<FTypeId>::TFType(TFType const& other)
    : m_pContent(copyContent(other.m_typeId, other.m_pContent, other.m_size)), m_typeId(other.m_typeId),
      m_size(other.m_size) {}

TFType<FTypeId>::TFType(TFType&& other) noexcept
    : m_pContent(std::exchange(other.m_pContent, nullptr)),
      m_typeId(std::exchange(other.m_typeId, FTypeNone)), m_size(std::exchange(other.m_size, 0)) {}

TFType<FTypeId>& TFType<FTypeId>::operator=(TFType const& other) {
    void* copy = copyContent(other.m_typeId, other.m_pContent, other.m_size);
    FTypeId const kind = other.m_typeId;
    unsigned int const size = other.m_size;
    clear();
    m_pContent = copy;
    m_typeId = kind;
    m_size = size;
    return *this;
}

TFType<FTypeId>& TFType<FTypeId>::operator=(TFType&& other) noexcept {
    if (this != &other) {
        // Taken out first: \p other may be a part of this value's content.
        void* content = std::exchange(other.m_pContent, nullptr);
        FTypeId const kind = std::exchange(other.m_typeId, FTypeNone);
        unsigned int const size = std::exchange(other.m_size, 0);
        clear();
        m_pContent = content;
        m_typeId = kind;
        m_size = size;
    }
    return *this;
}

TFType<FTypeId>::~TFType() {
    clear();
}

TFType<FTypeId>* TFType<FTypeId>::clone() const {
    return new TFType(*this);
}

void TFType<FTypeId>::clear(FTypeId) noexcept {
    void* content = std::exchange(m_pContent, nullptr);
    FTypeId const kind = std::exchange(m_typeId, FTypeNone);
    m_size = 0;
    deleteContent(kind, content);
}

unsigned int TFType<FTypeId>::sizeOfKind(FTypeId kind) noexcept {
    unsigned int size = 0;
    FTypeId const item = itemKind(kind);
    if (item != FTypeBitField) { // a bit field has no content size of its own
        visitTyped(item, [&]<typename T>(std::type_identity<T>) { size = sizeof(T); });
    }
    return size;
}

// ---------------------------------------------------------------------------
// TFValueBase

TFValueBase<FTypeId>::TFValueBase(FGStr<char> const& text)
    : TFValueBase(FTypeString, new FGStr<char>(text)) {}

TFValueBase<FTypeId>::TFValueBase(FGStr<wchar_t> const& text)
    : TFValueBase(FTypeWString, new FGStr<wchar_t>(text)) {}

TFValueBase<FTypeId>::TFValueBase(FReference<FObject, TFRefCounter<int>> const& object) : TFType(object) {}

TFValueBase<FTypeId>::TFValueBase(TFValueStructureBase<FTypeId, char>* structure) noexcept
    : TFType(structure != nullptr ? FTypeStructure : FTypeNone, 0, structure) {}

TFValueBase<FTypeId>::TFValueBase(void const* bytes, unsigned int size)
    : TFType(FTypeMemory, bytes != nullptr ? size : 0, copyContent(FTypeMemory, bytes, size)) {}

TFValueBase<FTypeId>::TFValueBase(TFValueBase const& other) : TFType(other), m_name(other.m_name) {}

TFValueBase<FTypeId>::TFValueBase(TFValueBase&& other) noexcept
    : TFType(std::move(other)), m_name(std::move(other.m_name)) {}

TFValueBase<FTypeId>& TFValueBase<FTypeId>::operator=(TFValueBase const& other) {
    TFType::operator=(other);
    return *this;
}

TFValueBase<FTypeId>& TFValueBase<FTypeId>::operator=(TFValueBase&& other) noexcept {
    TFType::operator=(std::move(other));
    return *this;
}

TFValueBase<FTypeId>::~TFValueBase() {
    clear(); // the content goes before the name
}

TFValueBase<FTypeId>* TFValueBase<FTypeId>::createType(FTypeId kind) {
    Value* made = nullptr;
    if (kind != FTypeBitField) {
        visitTyped(kind, [&]<typename T>(std::type_identity<T>) { made = new FValue<T>(); });
    }
    return made != nullptr ? made : new TFValueBase();
}

TFValueBase<FTypeId>* TFValueBase<FTypeId>::clone() const {
    return new TFValueBase(*this);
}

bool TFValueBase<FTypeId>::operator==(TFValueBase const& other) const noexcept {
    if (typeId() != other.typeId() || typeId() == FTypeNone) {
        return false;
    }
    if (typeId() == FTypeMemory && size() != other.size()) {
        return false;
    }
    return equalContent(typeId(), content(), other.content(), size());
}

FGStr<char> TFValueBase<FTypeId>::toCString() const noexcept {
    FGStr<char> text;
    if (content() != nullptr) {
        void const* cell = content();
        visitTyped(typeId(), [&]<typename T>(std::type_identity<T>) {
            appendText(text, *static_cast<T const*>(cell));
        });
    }
    return text;
}

TFValueStructureBase<FTypeId, char>* TFValueBase<FTypeId>::structure() const noexcept {
    return typeId() == FTypeStructure ? static_cast<Structure*>(content()) : nullptr;
}

// ---------------------------------------------------------------------------
// Structures

namespace {

/// Where the members start: right after the head, aligned for a value.
constexpr std::size_t kMembersOffset =
    (sizeof(Structure) + alignof(Value) - 1) / alignof(Value) * alignof(Value);

} // namespace

TFValueStructureBase<FTypeId, char>* TFValueStructureBase<FTypeId, char>::create(FGStr<char> const& name,
                                                                                 unsigned int count) {
    return build(name, count, nullptr);
}

void TFValueStructureBase<FTypeId, char>::release(TFValueStructureBase* block) noexcept {
    if (block == nullptr) {
        return;
    }
    Value* members = block->members();
    for (unsigned int i = block->MemberCount(); i-- > 0;) {
        members[i].~Value();
    }
    block->~TFValueStructureBase();
    ::operator delete(static_cast<void*>(block));
}

TFValueStructureBase<FTypeId, char>* TFValueStructureBase<FTypeId, char>::StructCopy() const {
    return build(StructName(), MemberCount(), this);
}

TFValueBase<FTypeId>& TFValueStructureBase<FTypeId, char>::Member(unsigned int i) {
    if (i >= MemberCount()) {
        throw FOutOfBoundsException();
    }
    return members()[i];
}

TFValueBase<FTypeId> const& TFValueStructureBase<FTypeId, char>::Member(unsigned int i) const {
    if (i >= MemberCount()) {
        throw FOutOfBoundsException();
    }
    return members()[i];
}

TFValueStructureBase<FTypeId, char>*
TFValueStructureBase<FTypeId, char>::build(FGStr<char> const& name, unsigned int count,
                                           TFValueStructureBase const* source) {
    void* raw = ::operator new(kMembersOffset + static_cast<std::size_t>(count) * sizeof(Value));
    TFValueStructureBase* block = nullptr;
    unsigned int built = 0;
    try {
        block = new (raw) TFValueStructureBase(name, count);
        auto* slots = static_cast<unsigned char*>(raw) + kMembersOffset;
        for (; built < count; ++built) {
            void* slot = slots + static_cast<std::size_t>(built) * sizeof(Value);
            if (source != nullptr) {
                new (slot) Value(source->Member(built));
            } else {
                new (slot) Value();
            }
        }
    } catch (...) {
        if (block != nullptr) {
            Value* members = block->members();
            while (built-- > 0) {
                members[built].~Value();
            }
            block->~TFValueStructureBase();
        }
        ::operator delete(raw);
        throw;
    }
    return block;
}

TFValueBase<FTypeId>* TFValueStructureBase<FTypeId, char>::members() const noexcept {
    auto* raw = reinterpret_cast<unsigned char*>(const_cast<TFValueStructureBase*>(this));
    return std::launder(reinterpret_cast<Value*>(raw + kMembersOffset));
}

// ---------------------------------------------------------------------------
// Arrays

FValueArrayBase::FValueArrayBase(FTypeId itemKind) noexcept
    : TFValueBase(static_cast<FTypeId>(itemKind | FTypeArray), nullptr) {}

TFValueBase<FTypeId>** FValueArrayBase::items(TFValueBase<FTypeId> const& array) noexcept {
    return array.isArray() ? static_cast<Value**>(array.m_pContent) : nullptr;
}

unsigned int FValueArrayBase::ArrayItemCount(TFValueBase<FTypeId> const& array) noexcept {
    return static_cast<unsigned int>(itemCount(items(array)));
}

TFValueBase<FTypeId>& FValueArrayBase::ArrayItem(TFValueBase<FTypeId> const& array, unsigned int i) {
    if (i >= ArrayItemCount(array)) {
        throw FOutOfBoundsException();
    }
    return *items(array)[i];
}

void FValueArrayBase::ArrayItem(TFValueBase<FTypeId>& array, unsigned int i,
                                TFValueBase<FTypeId> const& value) {
    if (i >= ArrayItemCount(array)) {
        ArrayAdd(array, value);
        return;
    }
    Value* copy = value.clone(); // before the old item goes: value may be that item
    Value*& slot = items(array)[i];
    delete slot;
    slot = copy;
}

void FValueArrayBase::ArrayAdd(TFValueBase<FTypeId>& array, TFValueBase<FTypeId> const& value) {
    ArrayAdd(array, value.clone());
}

void FValueArrayBase::ArrayAdd(TFValueBase<FTypeId>& array, TFValueBase<FTypeId>* item) {
    if (item == nullptr || item == &array) {
        return;
    }
    Value** old = items(array);
    long const n = itemCount(old);
    for (long i = 0; i < n; ++i) {
        if (old[i] == item) {
            return; // already held: adding it twice would free it twice
        }
    }
    if (!array.isArray()) {
        delete item;
        return;
    }
    Value** grown = nullptr;
    try {
        grown = new Value*[static_cast<std::size_t>(n) + 2];
    } catch (...) {
        delete item;
        throw;
    }
    for (long i = 0; i < n; ++i) {
        grown[i] = old[i];
    }
    grown[n] = item;
    grown[n + 1] = nullptr;
    delete[] old;
    array.m_pContent = grown;
}

bool FValueArrayBase::ArrayRemove(TFValueBase<FTypeId>& array, unsigned int i) noexcept {
    Value** list = items(array);
    long const n = itemCount(list);
    if (i >= n) {
        return false;
    }
    delete list[i];
    for (long k = i; k < n; ++k) {
        list[k] = list[k + 1]; // the terminator moves down too
    }
    if (n == 1) {
        delete[] list;
        array.m_pContent = nullptr;
    }
    return true;
}

void FValueArrayBase::ArrayClear(TFValueBase<FTypeId>& array) noexcept {
    if (array.isArray()) {
        deleteItems(static_cast<Value**>(std::exchange(array.m_pContent, nullptr)));
    }
}

FTypeId FValueArrayBase::ArrayType(TFValueBase<FTypeId> const& array) noexcept {
    return itemKind(array.typeId());
}

unsigned int FValueArrayBase::ArrayItemSize(TFValueBase<FTypeId> const& array) noexcept {
    return array.size();
}

} // namespace FSpace
