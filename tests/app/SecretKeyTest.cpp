// The secrets that key the utility's own files: made once, kept, refused
// when the machine's one can be read or changed by others. The tests use the
// real keys and leave them as they found them.
#include "system/SecretKey.h"
#include "system/FolderTrust.h"
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {
const wchar_t* const kLevels[] = {L"Kelvara", L"Kelvara\\Forge Support", L"Kelvara\\Forge Support\\Keys"};

// Remembers which levels of a scope's key exist and deletes, deepest first,
// those that did not when it is destroyed. Both bitnesses see the 64-bit view.
class CKeysLeftAsFound {
public:
    CKeysLeftAsFound(HKEY hRoot, const wchar_t* pszSoftware) : m_hRoot(hRoot), m_software(pszSoftware)
    {
        for (const wchar_t* pszLevel : kLevels) m_existed.push_back(Open(pszLevel, KEY_READ) != nullptr);
    }
    ~CKeysLeftAsFound()
    {
        for (size_t i = m_existed.size(); i-- > 0;)
            if (!m_existed[i]) RegDeleteKeyExW(m_hRoot, (m_software + L"\\" + kLevels[i]).c_str(), KEY_WOW64_64KEY, 0);
    }
    bool KeysExisted() const { return m_existed.back(); }
    // The open key below the scope's software key (closed by the caller); null when missing.
    HKEY Open(const wchar_t* pszLevel, REGSAM sam) const
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(m_hRoot, (m_software + L"\\" + pszLevel).c_str(), 0, sam | KEY_WOW64_64KEY, &hKey) != ERROR_SUCCESS)
            return nullptr;
        return hKey;
    }
private:
    HKEY m_hRoot;
    std::wstring m_software;
    std::vector<bool> m_existed;
};

std::vector<BYTE> SecurityOf(HKEY hKey)
{
    DWORD cbSecurity = 0;
    RegGetKeySecurity(hKey, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, &cbSecurity);
    std::vector<BYTE> security(cbSecurity);
    if (cbSecurity == 0 ||
        RegGetKeySecurity(hKey, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, security.data(), &cbSecurity) != ERROR_SUCCESS)
        security.clear();
    return security;
}
}

TEST(SecretKeyTest, EachScopeKeepsOneKeyOfItsOwn)
{
    const CKeysLeftAsFound machine(HKEY_LOCAL_MACHINE, L"SOFTWARE");
    const CKeysLeftAsFound user(HKEY_CURRENT_USER, L"Software");
    std::vector<BYTE> machineKey, machineAgain, userKey, userAgain;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadSecretKey(KeyScope::Machine, machineKey));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadSecretKey(KeyScope::Machine, machineAgain));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadSecretKey(KeyScope::User, userKey));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadSecretKey(KeyScope::User, userAgain));
    EXPECT_EQ(32u, machineKey.size());
    EXPECT_EQ(32u, userKey.size());
    EXPECT_EQ(machineKey, machineAgain);
    EXPECT_EQ(userKey, userAgain);
    EXPECT_NE(machineKey, userKey);

    // What the key's rights let others do, and the owner, are judged.
    const HKEY hKeys = machine.Open(kLevels[2], READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    ASSERT_NE(nullptr, hKeys);
    const std::vector<BYTE> original = SecurityOf(hKeys);
    ASSERT_FALSE(original.empty());
    const SECURITY_INFORMATION info = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    for (const wchar_t* pszSddl : {L"O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)", L"O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KW;;;IU)"}) {
        const SecurityPtr loose = SecurityFromSddl(pszSddl);
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(hKeys, info, loose.get()));
        std::vector<BYTE> refused(1, 0);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), ReadSecretKey(KeyScope::Machine, refused));
        EXPECT_TRUE(refused.empty());
    }
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(hKeys, info, const_cast<BYTE*>(original.data())));
    RegCloseKey(hKeys);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadSecretKey(KeyScope::Machine, machineAgain));
    EXPECT_EQ(machineKey, machineAgain);
}

TEST(SecretKeyTest, MakersAtOnceAgreeOnOneKey)
{
    const CKeysLeftAsFound user(HKEY_CURRENT_USER, L"Software");
    // A user key already there is kept aside and put back as it was.
    std::vector<BYTE> kept;
    if (user.KeysExisted()) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadSecretKey(KeyScope::User, kept));
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyExW(HKEY_CURRENT_USER, L"Software\\Kelvara\\Forge Support\\Keys", KEY_WOW64_64KEY, 0));
    }
    std::vector<std::vector<BYTE>> keys(4);
    std::vector<DWORD> results(keys.size(), ERROR_GEN_FAILURE);
    std::vector<std::thread> makers;
    for (size_t i = 0; i < keys.size(); ++i)
        makers.emplace_back([&, i] { results[i] = ReadSecretKey(KeyScope::User, keys[i]); });
    for (std::thread& maker : makers) maker.join();
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), results[i]);
        EXPECT_EQ(keys[0], keys[i]);
    }
    EXPECT_EQ(32u, keys[0].size());

    if (!kept.empty()) {
        const HKEY hKeys = user.Open(kLevels[2], KEY_SET_VALUE);
        ASSERT_NE(nullptr, hKeys);
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(hKeys, L"Undo", 0, REG_BINARY, kept.data(), static_cast<DWORD>(kept.size())));
        RegCloseKey(hKeys);
    }
}
