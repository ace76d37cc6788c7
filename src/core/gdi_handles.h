#pragma once

#include <windows.h>

#include "core/last_error.h"
#include "core/unique_resource.h"

namespace tavro {

template <typename Handle>
struct GdiObjectTraits : KeepsLastError {
    using type = Handle;
    static type invalid() noexcept { return nullptr; }
    static void close(type object) noexcept { DeleteObject(object); }
};
// Owners of GDI objects this program creates (stock objects are never owned).
using FontHandle = UniqueResource<GdiObjectTraits<HFONT>>;
using BrushHandle = UniqueResource<GdiObjectTraits<HBRUSH>>;
using PenHandle = UniqueResource<GdiObjectTraits<HPEN>>;

// BeginPaint .. EndPaint for one WM_PAINT.
class PaintScope {
  public:
    explicit PaintScope(HWND window) noexcept : window_(window) {
        dc_ = BeginPaint(window, &paint_);
    }
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC dc() const noexcept { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

// Selects an object into a device context and puts the previous one back, so the owner of the
// selected object can delete it afterwards (a selected object is never deleted).
class SelectionScope {
  public:
    SelectionScope(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectionScope() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            SelectObject(dc_, previous_);
        }
    }
    SelectionScope(const SelectionScope&) = delete;
    SelectionScope& operator=(const SelectionScope&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace tavro
