// A small registry of system information.
//
// Providers (FSysInfoProvider) publish information objects (FSysInfoObject)
// under dotted wide-text keys such as "system.paths.homefolder"; FSysInfo holds
// a list of providers and asks them in turn. Keys and captions are constant
// texts that nobody owns; maps of them compare keys by address.
#pragma once

#include "FType.h"
#include "FTypeValue.h"

namespace FSpace {

/// A counted reference to a value, the payload of value objects.
using FSysInfoValueRef = FRef<TFValueBase<FTypeId>, TFRefCounter<int>>;
/// Keys mapped to their captions.
using FSysInfoKeyMap = FMap<wchar_t const*, wchar_t const*>;

/// One piece of system information: a key, a caption and a payload of one of
/// four kinds.
class FSysInfoObject {
public:
    // Object types.
    static constexpr int TypeValue = 2;     ///< one counted value reference
    static constexpr int TypeValueList = 3; ///< an owned list of value references
    static constexpr int TypeNative = 4;    ///< an untyped pointer, not owned
    static constexpr int TypeKeyMap = 5;    ///< an owned map of keys to captions

    /// \p key and \p caption must be constant texts that outlive the object.
    FSysInfoObject(wchar_t const* key, wchar_t const* caption, FSysInfoValueRef const& value);
    FSysInfoObject(wchar_t const* key, wchar_t const* caption, FList<FSysInfoValueRef> const& values);
    FSysInfoObject(wchar_t const* key, wchar_t const* caption, void* native) noexcept;
    FSysInfoObject(wchar_t const* key, wchar_t const* caption, FSysInfoKeyMap const& keys);
    /// Copies key, caption and type; a value reference is shared, a list or map
    /// copied, a native pointer copied as it is.
    FSysInfoObject(FSysInfoObject const& other);
    /// As the copy constructor, replacing this object's payload.
    FSysInfoObject& operator=(FSysInfoObject const& other);
    // No move operations: moving copies.
    ~FSysInfoObject();

    wchar_t const* Key() const noexcept { return m_key; }
    wchar_t const* Caption() const noexcept { return m_caption; }
    int ObjectType() const noexcept { return m_type; }
    /// A copy of the value for TypeValue; an empty value otherwise (also for an
    /// empty reference).
    TFValueBase<FTypeId> Value() const;
    /// Copies of the values for TypeValueList (an empty reference gives an
    /// empty value); empty otherwise.
    FList<TFValueBase<FTypeId>> Values() const;
    /// The pointer for TypeNative; null otherwise.
    void* NativeValue() const noexcept;
    /// A copy of the map for TypeKeyMap; empty otherwise.
    FSysInfoKeyMap KeyMap() const;

private:
    void copyPayload(FSysInfoObject const& other);
    void releasePayload() noexcept;

    wchar_t const* m_key;
    wchar_t const* m_caption;
    int m_type;
    union {
        FSysInfoValueRef* value;
        FList<FSysInfoValueRef>* values;
        void* native;
        FSysInfoKeyMap* keys;
    } m_payload{};
};

using FSysInfoObjectRef = FRef<FSysInfoObject, TFRefCounter<int>>;

/// A source of information objects.
class FSysInfoProvider {
public:
    FSysInfoProvider() = default;
    FSysInfoProvider(FSysInfoProvider const&) = delete;
    FSysInfoProvider& operator=(FSysInfoProvider const&) = delete;
    virtual ~FSysInfoProvider() = default;

    /// The provider's key and name (constant texts); null ones keep the
    /// provider out of FSysInfo::getLoadedProviders.
    virtual wchar_t const* Key() const = 0;
    virtual wchar_t const* Name() const = 0;
    virtual int refreshInfo() = 0;
    virtual int releaseInfo() = 0;
    /// Adds the provider's (key, caption) pairs to \p out.
    virtual int getKeys(FMap<wchar_t const*, wchar_t const*>& out) const = 0;
    /// 0 when \p key is known and \p out was set; -1 otherwise (\p out untouched).
    virtual int getObject(wchar_t const* key, FSysInfoObjectRef& out) = 0;

protected:
    /// A new object in a new counted reference, one per payload form.
    static FSysInfoObjectRef createObject(wchar_t const* key, wchar_t const* caption,
                                          FSysInfoValueRef const& value);
    static FSysInfoObjectRef createObject(wchar_t const* key, wchar_t const* caption,
                                          FList<FSysInfoValueRef> const& values);
    static FSysInfoObjectRef createObject(wchar_t const* key, wchar_t const* caption, void* native);
    static FSysInfoObjectRef createObject(wchar_t const* key, wchar_t const* caption,
                                          FSysInfoKeyMap const& keys);
};

using FSysInfoProviderRef = FRef<FSysInfoProvider, TFRefCounter<int>>;

/// The registry: providers in order of addition. None is registered by default.
class FSysInfo {
public:
    FSysInfo() = default;
    FSysInfo(FSysInfo const&) = default;
    FSysInfo& operator=(FSysInfo const&) = default;
    ~FSysInfo() = default;

    /// Appends \p provider; an empty reference is ignored.
    void addProvider(FSysInfoProviderRef const& provider);
    /// Takes ownership of \p provider and appends it; null is ignored.
    void addProvider(FSysInfoProvider* provider);
    /// Each provider's Key() mapped to its Name(), skipping null ones.
    FMap<wchar_t const*, wchar_t const*> getLoadedProviders() const;
    /// The object of the first provider, in list order, that knows \p key;
    /// empty when none does.
    FSysInfoObjectRef getObject(wchar_t const* key) const;

private:
    FList<FSysInfoProviderRef> m_providers;
};

} // namespace FSpace
