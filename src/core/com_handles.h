#pragma once

#include <objbase.h>

#include "core/last_error.h"
#include "core/unique_resource.h"

namespace tavro {

template <typename Interface>
struct ComPtrTraits : KeepsLastError {
    using type = Interface*;
    static type invalid() noexcept { return nullptr; }
    static void close(type pointer) noexcept { pointer->Release(); }
};
// Owns one reference to a COM interface.
template <typename Interface>
using ComPtr = UniqueResource<ComPtrTraits<Interface>>;

struct CoTaskMemTraits : KeepsLastError {
    using type = wchar_t*;
    static type invalid() noexcept { return nullptr; }
    static void close(type buffer) noexcept { CoTaskMemFree(buffer); }
};
// Owns a text the system allocated with CoTaskMemAlloc (SHGetKnownFolderPath and friends).
using CoTaskMemText = UniqueResource<CoTaskMemTraits>;

// COM initialised on the calling thread for the lifetime of the object. Any success code,
// including S_FALSE for a thread that was already initialised, owes one CoUninitialize, so the
// thread's COM state is left as it was found. Declare it before the ComPtrs it serves, so they
// are released first.
class ComApartment {
  public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) noexcept
        : initialised_(SUCCEEDED(CoInitializeEx(nullptr, model))) {}
    ~ComApartment() {
        if (initialised_) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool initialised() const noexcept { return initialised_; }

  private:
    bool initialised_;
};

}  // namespace tavro
