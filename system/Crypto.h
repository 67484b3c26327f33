#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Keyed SHA-256 over data given in pieces, through the system's bcrypt.dll;
// Finish gives the 32 bytes. IsValid false when the system offers no
// HMAC-SHA-256. Move-only owner of the bcrypt handles.
class CHmacSha256 {
public:
    explicit CHmacSha256(const std::vector<BYTE>& key);
    ~CHmacSha256();
    CHmacSha256(CHmacSha256&& from) noexcept;
    CHmacSha256& operator=(CHmacSha256&& from) noexcept;
    CHmacSha256(const CHmacSha256&) = delete;
    CHmacSha256& operator=(const CHmacSha256&) = delete;

    bool IsValid() const;
    // Any size, including more than 4 GB given in pieces.
    void Update(const void* pData, size_t nBytes);
    // Once; false when the hash is not valid or the system fails.
    bool Finish(std::vector<BYTE>& mac);

private:
    void Release();
    void* m_hAlgorithm = nullptr;   // BCRYPT_ALG_HANDLE
    void* m_hHash = nullptr;        // BCRYPT_HASH_HANDLE
    bool m_bFailed = false;
};

// The 32-byte HMAC-SHA-256 of one piece of data; false when the system
// offers none.
bool HmacSha256(const std::vector<BYTE>& key, const void* pData, size_t nBytes, std::vector<BYTE>& mac);
// Bytes from the system's preferred random generator.
bool RandomBytes(void* pBuffer, size_t nBytes);
// Equal without an early exit.
bool SameBytes(const BYTE* pA, const BYTE* pB, size_t nBytes);
// Lower-case hex of bytes, and back (false on anything but an even number of
// hex digits).
std::wstring HexText(const std::vector<BYTE>& bytes);
bool HexBytes(const std::wstring& text, std::vector<BYTE>& bytes);
