// A minimal owning reference to a COM object: one Release per reference taken, nothing else.
#pragma once

#include <unknwn.h>

#include <utility>

namespace quillo::gpu::d3d11 {

template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : object_(other.object_) {
        if (object_ != nullptr) object_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr Adopt(T* object) {
        ComPtr pointer;
        pointer.object_ = object;
        return pointer;
    }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

    void Reset() {
        if (object_ != nullptr) std::exchange(object_, nullptr)->Release();
    }
    // For out parameters: releases what is held and hands out the slot.
    T** Put() {
        Reset();
        return &object_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    // QueryInterface for U; an empty pointer (and the result in *result) when not supported.
    template <typename U>
    ComPtr<U> As(HRESULT* result = nullptr) const {
        ComPtr<U> other;
        HRESULT hr = E_POINTER;
        if (object_ != nullptr) hr = object_->QueryInterface(__uuidof(U), other.PutVoid());
        if (FAILED(hr)) other.Reset();
        if (result != nullptr) *result = hr;
        return other;
    }

  private:
    T* object_ = nullptr;
};

}  // namespace quillo::gpu::d3d11
