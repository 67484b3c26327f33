#pragma once
#include <windows.h>
#include <cstring>
#include <optional>
#include <string>

// A view of bytes someone else owns (a file read into memory). Every read
// names its offset and is refused when it would leave the buffer, so code
// that parses a file's structure asks instead of indexing raw memory.
class CByteView {
public:
    CByteView(const BYTE* p, size_t n) : m_p(p), m_n(n) {}

    size_t Size() const { return m_n; }
    bool Contains(unsigned long long nOffset, unsigned long long nBytes) const
    {
        return nOffset <= m_n && nBytes <= m_n - nOffset;
    }
    template <class T> std::optional<T> At(unsigned long long nOffset) const
    {
        if (!Contains(nOffset, sizeof(T))) return std::nullopt;
        T value;
        std::memcpy(&value, m_p + nOffset, sizeof value);
        return value;
    }
    // A NUL-terminated string of at most nMaxLength characters; nothing when
    // no terminator comes first.
    std::optional<std::string> StringAt(unsigned long long nOffset, size_t nMaxLength) const;
    // A part of this view; empty when it would leave the buffer.
    CByteView Slice(unsigned long long nOffset, unsigned long long nBytes) const
    {
        return Contains(nOffset, nBytes) ? CByteView(m_p + nOffset, static_cast<size_t>(nBytes)) : CByteView(m_p, 0);
    }

private:
    const BYTE* m_p;
    size_t m_n;
};
