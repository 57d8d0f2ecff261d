// Owners for Win32 handles that a block creates and must give back whatever way it leaves:
// GDI objects, an object selected into a DC, DCs, a paint scope, kernel and search handles,
// file views and hooks. Each frees exactly what its creator's pair says, once; a moved-from
// owner holds nothing. Handles that live as long as a window or the process stay plain
// handles in their records; release() hands one over to such a record.
#pragma once

#include <windows.h>

#include <utility>

// One owned handle. Traits name the handle type, the value that means "none" (NULL for most
// creators, INVALID_HANDLE_VALUE for CreateFileW and FindFirstFileW) and the call that frees it.
template <typename Traits>
class OwnedHandle {
public:
    using Handle = typename Traits::Handle;

    OwnedHandle() = default;
    explicit OwnedHandle(Handle handle) : handle_(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { close(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::none(); }

    Handle release() { return std::exchange(handle_, Traits::none()); }
    void reset(Handle handle = Traits::none()) {
        close();
        handle_ = handle;
    }
    // Frees the handle now; the result of the freeing call, for callers to whom it matters
    // (a written file's close can be the write's last failure). True when there was none.
    bool close() {
        const Handle handle = release();
        return handle == Traits::none() || Traits::free(handle);
    }

private:
    Handle handle_ = Traits::none();
};

namespace handle_traits {

template <typename H>
struct Gdi {
    using Handle = H;
    static Handle none() { return nullptr; }
    static bool free(Handle h) { return DeleteObject(h) != FALSE; }
};
struct Kernel {
    using Handle = HANDLE;
    static Handle none() { return nullptr; }
    static bool free(Handle h) { return CloseHandle(h) != FALSE; }
};
struct File {
    using Handle = HANDLE;
    static Handle none() { return INVALID_HANDLE_VALUE; }
    static bool free(Handle h) { return CloseHandle(h) != FALSE; }
};
struct Find {
    using Handle = HANDLE;
    static Handle none() { return INVALID_HANDLE_VALUE; }
    static bool free(Handle h) { return FindClose(h) != FALSE; }
};
struct View {
    using Handle = const void*;
    static Handle none() { return nullptr; }
    static bool free(Handle h) { return UnmapViewOfFile(h) != FALSE; }
};
struct Hook {
    using Handle = HHOOK;
    static Handle none() { return nullptr; }
    static bool free(Handle h) { return UnhookWindowsHookEx(h) != FALSE; }
};
struct CompatibleDC {
    using Handle = HDC;
    static Handle none() { return nullptr; }
    static bool free(Handle h) { return DeleteDC(h) != FALSE; }
};

}  // namespace handle_traits

using OwnedBitmap = OwnedHandle<handle_traits::Gdi<HBITMAP>>;
using OwnedFont = OwnedHandle<handle_traits::Gdi<HFONT>>;
using OwnedBrush = OwnedHandle<handle_traits::Gdi<HBRUSH>>;
using OwnedPen = OwnedHandle<handle_traits::Gdi<HPEN>>;
using OwnedRegion = OwnedHandle<handle_traits::Gdi<HRGN>>;
using KernelHandle = OwnedHandle<handle_traits::Kernel>;  // CreateFileMappingW, CreateEventW, threads: NULL is none
using FileHandle = OwnedHandle<handle_traits::File>;      // CreateFileW: INVALID_HANDLE_VALUE is none
using FindHandle = OwnedHandle<handle_traits::Find>;      // FindFirstFileW: INVALID_HANDLE_VALUE is none
using MappedView = OwnedHandle<handle_traits::View>;      // MapViewOfFile
using HookHandle = OwnedHandle<handle_traits::Hook>;      // SetWindowsHookExW
using MemoryDC = OwnedHandle<handle_traits::CompatibleDC>;    // CreateCompatibleDC

// A window's DC from GetDC (or GetWindowDC), given back with ReleaseDC to the same window.
// A null window is the screen.
class WindowDC {
public:
    enum Area { Client, WholeWindow };
    explicit WindowDC(HWND window, Area area = Client)
        : window_(window), dc_(area == WholeWindow ? GetWindowDC(window) : GetDC(window)) {}
    WindowDC(WindowDC&& other) noexcept : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
    WindowDC& operator=(WindowDC&&) = delete;
    WindowDC(const WindowDC&) = delete;
    ~WindowDC() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint on construction, EndPaint on destruction.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    PaintScope(PaintScope&& other) noexcept
        : window_(std::exchange(other.window_, nullptr)), paint_(other.paint_), dc_(other.dc_) {}
    PaintScope& operator=(PaintScope&&) = delete;
    PaintScope(const PaintScope&) = delete;
    ~PaintScope() {
        if (window_) EndPaint(window_, &paint_);
    }
    HDC dc() const { return dc_; }
    const PAINTSTRUCT& paint() const { return paint_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// Selects a pen, brush, font or bitmap into a DC and selects the one it replaced back on
// destruction, so that the object can be deleted after the scope (declare its owner before
// the scope). A null object selects nothing. Not for regions: selecting a region copies it
// and returns no object to put back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(dc && object ? SelectObject(dc, object) : nullptr) {
        if (old_ == HGDI_ERROR) old_ = nullptr;
    }
    SelectedObject(SelectedObject&& other) noexcept : dc_(other.dc_), old_(std::exchange(other.old_, nullptr)) {}
    SelectedObject& operator=(SelectedObject&&) = delete;
    SelectedObject(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (old_) SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};
