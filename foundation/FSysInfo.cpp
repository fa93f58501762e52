#include "FSysInfo.h"

#include <utility>

namespace FSpace {

// ---------------------------------------------------------------------------
// FSysInfoObject

FSysInfoObject::FSysInfoObject(wchar_t const* key, wchar_t const* caption, FSysInfoValueRef const& value)
    : m_key(key), m_caption(caption), m_type(TypeValue) {
    m_payload.value = new FSysInfoValueRef(value);
}

FSysInfoObject::FSysInfoObject(wchar_t const* key, wchar_t const* caption,
                               FList<FSysInfoValueRef> const& values)
    : m_key(key), m_caption(caption), m_type(TypeValueList) {
    m_payload.values = new FList<FSysInfoValueRef>(values);
}

FSysInfoObject::FSysInfoObject(wchar_t const* key, wchar_t const* caption, void* native) noexcept
    : m_key(key), m_caption(caption), m_type(TypeNative) {
    m_payload.native = native;
}

FSysInfoObject::FSysInfoObject(wchar_t const* key, wchar_t const* caption, FSysInfoKeyMap const& keys)
    : m_key(key), m_caption(caption), m_type(TypeKeyMap) {
    m_payload.keys = new FSysInfoKeyMap(keys);
}

FSysInfoObject::FSysInfoObject(FSysInfoObject const& other)
    : m_key(other.m_key), m_caption(other.m_caption), m_type(other.m_type) {
    copyPayload(other);
}

FSysInfoObject& FSysInfoObject::operator=(FSysInfoObject const& other) {
    if (this != &other) {
        FSysInfoObject copy(other);
        std::swap(m_key, copy.m_key);
        std::swap(m_caption, copy.m_caption);
        std::swap(m_type, copy.m_type);
        std::swap(m_payload, copy.m_payload);
    }
    return *this;
}

FSysInfoObject::~FSysInfoObject() {
    releasePayload();
}

TFValueBase<FTypeId> FSysInfoObject::Value() const {
    if (m_type != TypeValue || m_payload.value->isNull()) {
        return TFValueBase<FTypeId>();
    }
    return **m_payload.value;
}

FList<TFValueBase<FTypeId>> FSysInfoObject::Values() const {
    FList<TFValueBase<FTypeId>> values;
    if (m_type == TypeValueList) {
        FList<FSysInfoValueRef> const& refs = *m_payload.values;
        for (long i = 0; i < refs.Count(); ++i) {
            values.add(refs[i].isNull() ? TFValueBase<FTypeId>() : *refs[i]);
        }
    }
    return values;
}

void* FSysInfoObject::NativeValue() const noexcept {
    return m_type == TypeNative ? m_payload.native : nullptr;
}

FSysInfoKeyMap FSysInfoObject::KeyMap() const {
    return m_type == TypeKeyMap ? *m_payload.keys : FSysInfoKeyMap();
}

void FSysInfoObject::copyPayload(FSysInfoObject const& other) {
    switch (other.m_type) {
    case TypeValue:
        m_payload.value = new FSysInfoValueRef(*other.m_payload.value);
        break;
    case TypeValueList:
        m_payload.values = new FList<FSysInfoValueRef>(*other.m_payload.values);
        break;
    case TypeKeyMap:
        m_payload.keys = new FSysInfoKeyMap(*other.m_payload.keys);
        break;
    default:
        m_payload.native = other.m_payload.native;
        break;
    }
}

void FSysInfoObject::releasePayload() noexcept {
    switch (m_type) {
    case TypeValue:
        delete m_payload.value;
        break;
    case TypeValueList:
        delete m_payload.values;
        break;
    case TypeKeyMap:
        delete m_payload.keys;
        break;
    default:
        break;
    }
    m_payload.native = nullptr;
}

// ---------------------------------------------------------------------------
// FSysInfoProvider

FSysInfoObjectRef FSysInfoProvider::createObject(wchar_t const* key, wchar_t const* caption,
                                                 FSysInfoValueRef const& value) {
    return FSysInfoObjectRef(new FSysInfoObject(key, caption, value));
}

FSysInfoObjectRef FSysInfoProvider::createObject(wchar_t const* key, wchar_t const* caption,
                                                 FList<FSysInfoValueRef> const& values) {
    return FSysInfoObjectRef(new FSysInfoObject(key, caption, values));
}

FSysInfoObjectRef FSysInfoProvider::createObject(wchar_t const* key, wchar_t const* caption, void* native) {
    return FSysInfoObjectRef(new FSysInfoObject(key, caption, native));
}

FSysInfoObjectRef FSysInfoProvider::createObject(wchar_t const* key, wchar_t const* caption,
                                                 FSysInfoKeyMap const& keys) {
    return FSysInfoObjectRef(new FSysInfoObject(key, caption, keys));
}

// ---------------------------------------------------------------------------
// FSysInfo

void FSysInfo::addProvider(FSysInfoProviderRef const& provider) {
    if (!provider.isNull()) {
        m_providers.add(provider);
    }
}

void FSysInfo::addProvider(FSysInfoProvider* provider) {
    if (provider != nullptr) {
        m_providers.add(FSysInfoProviderRef(provider));
    }
}

FMap<wchar_t const*, wchar_t const*> FSysInfo::getLoadedProviders() const {
    FMap<wchar_t const*, wchar_t const*> loaded;
    for (long i = 0; i < m_providers.Count(); ++i) {
        wchar_t const* const key = m_providers[i]->Key();
        wchar_t const* const name = m_providers[i]->Name();
        if (key != nullptr && name != nullptr) {
            loaded.add(key, name);
        }
    }
    return loaded;
}

FSysInfoObjectRef FSysInfo::getObject(wchar_t const* key) const {
    FSysInfoObjectRef object;
    for (long i = 0; i < m_providers.Count(); ++i) {
        if (m_providers[i]->getObject(key, object) == 0) {
            return object;
        }
    }
    return FSysInfoObjectRef();
}

} // namespace FSpace
