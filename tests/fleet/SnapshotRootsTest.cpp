// The snapshot against the registry as Windows has it: the user's classes as
// a link to their own hive, or not there at all, and another program
// deleting a key while the snapshot lists its parent.
#include "engine/undo/UndoJournal.h"
#include "tests/common/TestSupport.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <thread>

namespace {
const wchar_t USER_CLASSES[] = L"Software\\Classes";
const wchar_t USER_TEST_KEY[] = L"Software\\Classes\\KelvaraRootsTest";
const std::wstring USER_TEST_PATH = L"HKEY_CURRENT_USER\\Software\\Classes\\KelvaraRootsTest";

bool HasChange(const std::vector<RegistryKeyChange>& changes, const std::wstring& strPath, bool bDelete)
{
    return std::any_of(changes.begin(), changes.end(),
                       [&](const RegistryKeyChange& change) { return change.strPath == strPath && change.bDelete == bDelete; });
}

bool CreateKey(HKEY hRoot, const std::wstring& strKey)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(hRoot, strKey.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &hKey, nullptr) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

// The user's classes moved aside for a test, and put back as they were.
class CUserClassesAside {
public:
    CUserClassesAside()
    {
        m_bHad = RegOpenKeyExW(HKEY_CURRENT_USER, USER_CLASSES, 0, KEY_READ, &m_hClasses) == ERROR_SUCCESS;
        if (m_bHad) {
            CreateKey(HKEY_CURRENT_USER, BACKUP);
            HKEY hBackup = nullptr;
            RegOpenKeyExW(HKEY_CURRENT_USER, BACKUP, 0, KEY_ALL_ACCESS, &hBackup);
            m_bSaved = hBackup && RegCopyTreeW(m_hClasses, nullptr, hBackup) == ERROR_SUCCESS;
            RegCloseKey(hBackup);
            RegCloseKey(m_hClasses);
            if (m_bSaved) RegDeleteTreeW(HKEY_CURRENT_USER, USER_CLASSES), RegDeleteKeyW(HKEY_CURRENT_USER, USER_CLASSES);
        }
    }
    ~CUserClassesAside()
    {
        RemoveLink();
        RegDeleteTreeW(HKEY_CURRENT_USER, USER_CLASSES);
        RegDeleteKeyW(HKEY_CURRENT_USER, USER_CLASSES);
        if (m_bHad && m_bSaved) {
            CreateKey(HKEY_CURRENT_USER, USER_CLASSES);
            HKEY hClasses = nullptr, hBackup = nullptr;
            RegOpenKeyExW(HKEY_CURRENT_USER, USER_CLASSES, 0, KEY_ALL_ACCESS, &hClasses);
            RegOpenKeyExW(HKEY_CURRENT_USER, BACKUP, 0, KEY_READ, &hBackup);
            if (hClasses && hBackup) RegCopyTreeW(hBackup, nullptr, hClasses);
            RegCloseKey(hClasses);
            RegCloseKey(hBackup);
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, BACKUP);
        RegDeleteKeyW(HKEY_CURRENT_USER, BACKUP);
        RegDeleteTreeW(HKEY_CURRENT_USER, HIVE);
        RegDeleteKeyW(HKEY_CURRENT_USER, HIVE);
    }
    bool IsAside() const { return !m_bHad || m_bSaved; }
    // HKEY_CURRENT_USER\Software\Classes made a link to a key of its own,
    // as Windows links it to the user's classes hive.
    bool MakeLink()
    {
        if (!CreateKey(HKEY_CURRENT_USER, HIVE)) return false;
        HKEY hLink = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, USER_CLASSES, 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &hLink, nullptr) != ERROR_SUCCESS)
            return false;
        const std::wstring strTarget = L"\\Registry\\User\\" + CurrentUserSid() + L"\\" + HIVE;
        const LONG nResult = RegSetValueExW(hLink, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(strTarget.data()),
                                            static_cast<DWORD>(strTarget.size() * sizeof(wchar_t)));
        RegCloseKey(hLink);
        return nResult == ERROR_SUCCESS;
    }

private:
    void RemoveLink()
    {
        HKEY hLink = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, USER_CLASSES, REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &hLink) != ERROR_SUCCESS) return;
        DWORD dwType = REG_NONE;
        const bool bLink = RegQueryValueExW(hLink, L"SymbolicLinkValue", nullptr, &dwType, nullptr, nullptr) == ERROR_SUCCESS &&
                           dwType == REG_LINK;
        // Deleted through its own handle: a path would lead to its target.
        using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
        const auto pDelete = reinterpret_cast<NtDeleteKeyFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey"));
        if (bLink && pDelete) pDelete(hLink);
        RegCloseKey(hLink);
    }
    static constexpr const wchar_t* BACKUP = L"Software\\KelvaraClassesBackup";
    static constexpr const wchar_t* HIVE = L"Software\\KelvaraClassesHive";
    HKEY m_hClasses = nullptr;
    bool m_bHad = false;
    bool m_bSaved = false;
};
}

TEST(SnapshotRoots, TheUsersClassesAreRecordedAsALinkToTheirHiveAndWhenTheyAppearDuringAPress)
{
    CUserClassesAside aside;
    ASSERT_TRUE(aside.IsAside());
    {
        // A fresh profile: no classes key before the press, one after it.
        CRegistrySnapshot before;
        ASSERT_TRUE(before.Capture());
        ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, USER_TEST_KEY));
        const std::vector<RegistryKeyChange> changes = before.CompareWithRegistry();
        EXPECT_TRUE(HasChange(changes, USER_TEST_PATH, true)) << "what the press made below a new root is undone";
        EXPECT_FALSE(HasChange(changes, L"HKEY_CURRENT_USER\\Software\\Classes", true)) << "no undo deletes a root";
        RegDeleteKeyW(HKEY_CURRENT_USER, USER_TEST_KEY);
        RegDeleteKeyW(HKEY_CURRENT_USER, USER_CLASSES);
    }
    ASSERT_TRUE(aside.MakeLink());
    CRegistrySnapshot before;
    ASSERT_TRUE(before.Capture());
    ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, USER_TEST_KEY));
    const std::vector<RegistryKeyChange> changes = before.CompareWithRegistry();
    EXPECT_TRUE(HasChange(changes, USER_TEST_PATH, true)) << "the link to the user's classes is followed";
    RegDeleteKeyW(HKEY_CURRENT_USER, USER_TEST_KEY);
    EXPECT_TRUE(before.CompareWithRegistry().empty());
}

namespace {
// Deletes the race key's first subkey from a second thread, once, just after
// the snapshot has listed that subkey of its parent.
bool s_bDeleted = false;
void DeleteFirstSubKeyMeanwhile(HKEY hKey)
{
    HKEY hFirst = nullptr;
    if (s_bDeleted || RegOpenKeyExW(hKey, L"KvRaceA", 0, KEY_READ, &hFirst) != ERROR_SUCCESS) return;
    RegCloseKey(hFirst);
    s_bDeleted = true;
    std::thread([] { RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\KelvaraRootsTest\\KvRaceA"); }).join();
}
}

TEST(SnapshotRoots, AKeyDeletedByAnotherProgramWhileItsParentIsListedSkipsNoOtherKey)
{
    for (const wchar_t* pszName : {L"KvRaceA", L"KvRaceB", L"KvRaceC", L"KvRaceD"})
        ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, std::wstring(USER_TEST_KEY) + L"\\" + pszName));
    CRegistrySnapshot before;
    s_bDeleted = false;
    SetSubKeyListingHook(DeleteFirstSubKeyMeanwhile);
    const bool bCaptured = before.Capture();
    SetSubKeyListingHook(nullptr);
    ASSERT_TRUE(bCaptured);
    ASSERT_TRUE(s_bDeleted);
    // Listing by index after the deletion would have passed over B: the
    // snapshot would not know it, and its undo would not make it again.
    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(USER_TEST_KEY) + L"\\KvRaceB").c_str());
    const std::vector<RegistryKeyChange> changes = before.CompareWithRegistry();
    EXPECT_TRUE(HasChange(changes, USER_TEST_PATH + L"\\KvRaceB", false));
    EXPECT_FALSE(HasChange(changes, USER_TEST_PATH + L"\\KvRaceA", false)) << "deleted before the listing ended";
    RegDeleteTreeW(HKEY_CURRENT_USER, USER_TEST_KEY);
    RegDeleteKeyW(HKEY_CURRENT_USER, USER_TEST_KEY);
}
