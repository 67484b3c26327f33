#include "system/Crypto.h"
#include "system/SystemLibrary.h"
#include <bcrypt.h>
#include <utility>

namespace {
// bcrypt.dll is no KnownDLL: it is taken from the system folder, never
// imported, so that a copy beside the program is never the one used.
struct BcryptCalls {
    using OpenFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
    using CloseFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
    using CreateHashFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
    using HashDataFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using FinishFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using DestroyFn = NTSTATUS(WINAPI*)(BCRYPT_HASH_HANDLE);
    using RandomFn = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
    OpenFn pOpen = nullptr;
    CloseFn pClose = nullptr;
    CreateHashFn pCreateHash = nullptr;
    HashDataFn pHashData = nullptr;
    FinishFn pFinish = nullptr;
    DestroyFn pDestroy = nullptr;
    RandomFn pRandom = nullptr;

    BcryptCalls()
    {
        const HMODULE hBcrypt = LoadSystemLibrary(L"bcrypt.dll");
        pOpen = SystemProc<OpenFn>(hBcrypt, "BCryptOpenAlgorithmProvider");
        pClose = SystemProc<CloseFn>(hBcrypt, "BCryptCloseAlgorithmProvider");
        pCreateHash = SystemProc<CreateHashFn>(hBcrypt, "BCryptCreateHash");
        pHashData = SystemProc<HashDataFn>(hBcrypt, "BCryptHashData");
        pFinish = SystemProc<FinishFn>(hBcrypt, "BCryptFinishHash");
        pDestroy = SystemProc<DestroyFn>(hBcrypt, "BCryptDestroyHash");
        pRandom = SystemProc<RandomFn>(hBcrypt, "BCryptGenRandom");
    }
    bool CanHash() const { return pOpen && pClose && pCreateHash && pHashData && pFinish && pDestroy; }
};

const BcryptCalls& Bcrypt()
{
    static const BcryptCalls s_calls;
    return s_calls;
}

constexpr ULONG kMacBytes = 32;
// BCryptHashData takes a ULONG count: larger data goes in slices.
constexpr size_t kSliceBytes = 1u << 30;

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}
}

CHmacSha256::CHmacSha256(const std::vector<BYTE>& key)
{
    const BcryptCalls& calls = Bcrypt();
    if (!calls.CanHash() || key.size() > 0x7FFFFFFF) return;
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    if (!Succeeded(calls.pOpen(&hAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG))) return;
    m_hAlgorithm = hAlgorithm;
    // The key is only read; the cast is the interface's, not a write.
    BYTE empty = 0;
    PUCHAR pKey = key.empty() ? &empty : const_cast<PUCHAR>(key.data());
    BCRYPT_HASH_HANDLE hHash = nullptr;
    // No hash object buffer: the system allocates it (Windows 7 and later).
    if (!Succeeded(calls.pCreateHash(hAlgorithm, &hHash, nullptr, 0, pKey, static_cast<ULONG>(key.size()), 0))) {
        Release();
        return;
    }
    m_hHash = hHash;
}

CHmacSha256::~CHmacSha256()
{
    Release();
}

CHmacSha256::CHmacSha256(CHmacSha256&& from) noexcept
    : m_hAlgorithm(std::exchange(from.m_hAlgorithm, nullptr)),
      m_hHash(std::exchange(from.m_hHash, nullptr)),
      m_bFailed(from.m_bFailed)
{
}

CHmacSha256& CHmacSha256::operator=(CHmacSha256&& from) noexcept
{
    if (this != &from) {
        Release();
        m_hAlgorithm = std::exchange(from.m_hAlgorithm, nullptr);
        m_hHash = std::exchange(from.m_hHash, nullptr);
        m_bFailed = from.m_bFailed;
    }
    return *this;
}

void CHmacSha256::Release()
{
    const BcryptCalls& calls = Bcrypt();
    if (m_hHash) calls.pDestroy(m_hHash);
    if (m_hAlgorithm) calls.pClose(m_hAlgorithm, 0);
    m_hHash = nullptr;
    m_hAlgorithm = nullptr;
}

bool CHmacSha256::IsValid() const
{
    return m_hHash != nullptr && !m_bFailed;
}

void CHmacSha256::Update(const void* pData, size_t nBytes)
{
    if (!IsValid()) return;
    const BYTE* pBytes = static_cast<const BYTE*>(pData);
    while (nBytes > 0) {
        const size_t nSlice = nBytes < kSliceBytes ? nBytes : kSliceBytes;
        if (!Succeeded(Bcrypt().pHashData(m_hHash, const_cast<PUCHAR>(pBytes), static_cast<ULONG>(nSlice), 0))) {
            m_bFailed = true;
            return;
        }
        pBytes += nSlice;
        nBytes -= nSlice;
    }
}

bool CHmacSha256::Finish(std::vector<BYTE>& mac)
{
    mac.clear();
    if (!IsValid()) return false;
    std::vector<BYTE> result(kMacBytes);
    const bool bDone = Succeeded(Bcrypt().pFinish(m_hHash, result.data(), kMacBytes, 0));
    // A finished hash takes no more data: it counts as spent either way.
    m_bFailed = true;
    if (bDone) mac.swap(result);
    return bDone;
}

bool HmacSha256(const std::vector<BYTE>& key, const void* pData, size_t nBytes, std::vector<BYTE>& mac)
{
    CHmacSha256 hmac(key);
    hmac.Update(pData, nBytes);
    return hmac.Finish(mac);
}

bool RandomBytes(void* pBuffer, size_t nBytes)
{
    const BcryptCalls& calls = Bcrypt();
    if (!calls.pRandom) return false;
    BYTE* pBytes = static_cast<BYTE*>(pBuffer);
    while (nBytes > 0) {
        const size_t nSlice = nBytes < kSliceBytes ? nBytes : kSliceBytes;
        if (!Succeeded(calls.pRandom(nullptr, pBytes, static_cast<ULONG>(nSlice), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        pBytes += nSlice;
        nBytes -= nSlice;
    }
    return true;
}

bool SameBytes(const BYTE* pA, const BYTE* pB, size_t nBytes)
{
    // volatile: the compiler must not turn the sum into an early exit.
    volatile BYTE nDiffer = 0;
    for (size_t i = 0; i < nBytes; ++i) nDiffer = static_cast<BYTE>(nDiffer | (pA[i] ^ pB[i]));
    return nDiffer == 0;
}

std::wstring HexText(const std::vector<BYTE>& bytes)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (const BYTE b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

namespace {
int HexDigit(wchar_t ch)
{
    if (ch >= L'0' && ch <= L'9') return ch - L'0';
    if (ch >= L'a' && ch <= L'f') return ch - L'a' + 10;
    if (ch >= L'A' && ch <= L'F') return ch - L'A' + 10;
    return -1;
}
}

bool HexBytes(const std::wstring& text, std::vector<BYTE>& bytes)
{
    bytes.clear();
    if (text.size() % 2 != 0) return false;
    std::vector<BYTE> result;
    result.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int nHigh = HexDigit(text[i]);
        const int nLow = HexDigit(text[i + 1]);
        if (nHigh < 0 || nLow < 0) return false;
        result.push_back(static_cast<BYTE>(nHigh << 4 | nLow));
    }
    bytes.swap(result);
    return true;
}
