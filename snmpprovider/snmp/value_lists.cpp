#include "value_lists.hpp"

#include <new>

namespace kx9 {

Variant::Variant(const Variant &other) {
    VariantInit(&v_);
    if (FAILED(VariantCopy(&v_, &other.v_))) throw std::bad_alloc();
}

Variant Variant::Int(int32_t value) {
    Variant v;
    v.v_.vt = VT_I4;
    v.v_.lVal = value;
    return v;
}

Variant Variant::Text(std::string_view utf8) {
    Variant v;
    BSTR text = vtSysAllocStringUtf8(std::string(utf8).c_str());
    if (!text) throw std::bad_alloc();
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = text;
    return v;
}

HRESULT Variant::From(const VARIANT &value, Variant *out) {
    Variant v;
    HRESULT hr = VariantCopy(&v.v_, &value);
    if (FAILED(hr)) return hr;
    *out = std::move(v);
    return S_OK;
}

std::string Variant::Utf8() const {
    if (v_.vt != VT_BSTR || !v_.bstrVal) return {};
    size_t n = vtSysStringToUtf8(v_.bstrVal, nullptr, 0);
    std::string text(n + 1, '\0');
    vtSysStringToUtf8(v_.bstrVal, text.data(), text.size());
    text.resize(n);
    return text;
}

void ValueLists::Replace(ValueSet values) {
    std::lock_guard<std::mutex> g(m_);
    lists_ = std::move(values);
}

int ValueLists::Count(int list) const {
    if (list < 0 || list >= kValueLists) return -1;
    std::lock_guard<std::mutex> g(m_);
    return static_cast<int>(lists_[list].size());
}

HRESULT ValueLists::Get(int list, int index, VARIANT *out) const {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (list < 0 || list >= kValueLists || index < 0) return DISP_E_BADINDEX;
    std::lock_guard<std::mutex> g(m_);
    if (static_cast<size_t>(index) >= lists_[list].size()) return DISP_E_BADINDEX;
    return VariantCopy(out, &lists_[list][index].value.get());
}

HRESULT ValueLists::Put(int list, int index, const VARIANT &value) {
    if (list < 0 || list >= kValueLists || index < 0) return DISP_E_BADINDEX;
    Variant copy;
    HRESULT hr = Variant::From(value, &copy);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> g(m_);
    std::vector<StoredValue> &values = lists_[list];
    if (static_cast<size_t>(index) > values.size()) return DISP_E_BADINDEX;
    if (static_cast<size_t>(index) == values.size()) values.emplace_back();
    StoredValue &slot = values[index];
    slot.value = std::move(copy);
    slot.changed = true;
    slot.stamp = nextStamp_++;
    return S_OK;
}

HRESULT ValueLists::Instance(int list, int index, std::string *instance, bool *has) const {
    if (list < 0 || list >= kValueLists || index < 0) return DISP_E_BADINDEX;
    std::lock_guard<std::mutex> g(m_);
    if (static_cast<size_t>(index) >= lists_[list].size()) return DISP_E_BADINDEX;
    *instance = lists_[list][index].instance;
    *has = lists_[list][index].hasInstance;
    return S_OK;
}

std::vector<ValueLists::Change> ValueLists::Changed() const {
    std::vector<Change> out;
    std::lock_guard<std::mutex> g(m_);
    for (int i = 0; i < kValueLists; ++i)
        for (size_t j = 0; j < lists_[i].size(); ++j)
            if (const StoredValue &v = lists_[i][j]; v.changed)
                out.push_back({i, static_cast<int>(j), v.value, v.stamp, v.hasInstance, v.instance});
    return out;
}

void ValueLists::MarkWritten(const Change &change) {
    std::lock_guard<std::mutex> g(m_);
    std::vector<StoredValue> &values = lists_[change.list];
    if (static_cast<size_t>(change.index) < values.size() && values[change.index].stamp == change.stamp)
        values[change.index].changed = false;
}

}  // namespace kx9
