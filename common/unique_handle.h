// Ownership of every handle the programs open: one holder closes its handle
// once, when it goes or is reset, and can be moved but never copied, so no
// handle is closed twice or forgotten on an early return. Both programs use
// it; it needs nothing but the language.
#pragma once

#include <cstdlib>

// Handle: a pointer-sized value whose null means "none" (the seams hand out
// null for a failed open, INVALID_HANDLE_VALUE included). Closer: a plain
// function (not a DLL import, whose address is no constant) that gives the
// handle back; what it returns, Close() passes on.
template <typename Handle, auto Closer>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle(); }

    // Gives the handle up without closing it.
    Handle Release() {
        const Handle handle = handle_;
        handle_ = Handle();
        return handle;
    }
    // Closes the handle held, if any, and holds handle instead.
    void Reset(Handle handle = Handle()) {
        if (handle_) Closer(handle_);
        handle_ = handle;
    }
    // Closes at once, for a caller that must know whether closing worked (a
    // file written is complete only once it is closed); true when nothing
    // was held.
    bool Close() { return !handle_ || static_cast<bool>(Closer(Release())); }

private:
    Handle handle_ = Handle();
};

// The closer of memory of std::malloc (a plain function: msvcrt's free is a
// DLL import).
inline void FreeBytes(void* bytes) { std::free(bytes); }
