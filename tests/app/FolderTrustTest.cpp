// Whether a file or folder is one only administrators can change: the
// judgment over security descriptors made from SDDL (under Wine every real
// file reads as owned by the user, and there are no junctions), and what can
// be tried on real files.
#include "system/FolderTrust.h"
#include "common/TestSupport.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {
const DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;

TrustProblem Judge(const wchar_t* pszSddl, DWORD dwAttributes = kFolder, bool bRoot = false)
{
    const SecurityPtr security = SecurityFromSddl(pszSddl);
    EXPECT_TRUE(security) << "SDDL refused: " << CString::FromWide(pszSddl).GetString();
    return JudgeSecurity(security.get(), dwAttributes, bRoot);
}

TrustProblem JudgeParent(const wchar_t* pszSddl)
{
    const SecurityPtr security = SecurityFromSddl(pszSddl);
    EXPECT_TRUE(security);
    return JudgeParentSecurity(security.get(), kFolder);
}

// Owned by Administrators, with a NULL DACL. Built by hand: Wine's SDDL
// parser makes "D:NO_ACCESS_CONTROL" an empty DACL instead.
std::shared_ptr<SECURITY_DESCRIPTOR> NullDacl()
{
    struct Owned {
        SECURITY_DESCRIPTOR descriptor;
        BYTE owner[SECURITY_MAX_SID_SIZE];
    };
    auto pOwned = std::make_shared<Owned>();
    DWORD cbOwner = sizeof pOwned->owner;
    EXPECT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, pOwned->owner, &cbOwner));
    EXPECT_TRUE(InitializeSecurityDescriptor(&pOwned->descriptor, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorOwner(&pOwned->descriptor, pOwned->owner, FALSE));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&pOwned->descriptor, TRUE, nullptr, FALSE));
    return std::shared_ptr<SECURITY_DESCRIPTOR>(pOwned, &pOwned->descriptor);
}
}

TEST(FolderTrustTest, JudgesOwnersAndRightsFromTheDescriptor)
{
    EXPECT_EQ(TrustProblem::None, Judge(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
    EXPECT_EQ(TrustProblem::None, Judge(L"O:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;BU)(A;;0x1200a9;;;WD)"));
    EXPECT_EQ(TrustProblem::None, Judge(L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
                                        L"D:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"));
    EXPECT_EQ(TrustProblem::OwnerNotTrusted, Judge(L"O:BUD:P(A;;FA;;;SY)"));
    EXPECT_EQ(TrustProblem::OwnerNotTrusted, Judge(L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)"));
    EXPECT_EQ(TrustProblem::OthersCanWrite, Judge(L"O:BAD:(A;;FA;;;BU)"));
    // Only what applies to the object itself counts; CREATOR OWNER names no one.
    EXPECT_EQ(TrustProblem::None, Judge(L"O:BAD:(A;OICIIO;FA;;;BU)(A;;FA;;;CO)(A;OICIIO;FA;;;CO)"));
    // Each right that changes the object or what it holds, given to another.
    for (const wchar_t* pszSddl : {L"O:BAD:(A;;GW;;;BU)", L"O:BAD:(A;;GA;;;AU)", L"O:BAD:(A;;WD;;;WD)",
                                   L"O:BAD:(A;;WO;;;BU)", L"O:BAD:(A;;SD;;;BU)", L"O:BAD:(A;;0x2;;;BU)",
                                   L"O:BAD:(A;;0x4;;;BU)", L"O:BAD:(A;;0x40;;;BU)"})
        EXPECT_EQ(TrustProblem::OthersCanWrite, Judge(pszSddl)) << CString::FromWide(pszSddl).GetString();
    // Reading, running, attributes and extended attributes do not count.
    EXPECT_EQ(TrustProblem::None, Judge(L"O:BAD:(A;;0x1201b9;;;BU)"));
    // Deny ACEs are not subtracted; a NULL DACL lets everyone do everything.
    EXPECT_EQ(TrustProblem::OthersCanWrite, Judge(L"O:BAD:(D;;FA;;;BU)(A;;FA;;;BU)"));
    EXPECT_EQ(TrustProblem::OthersCanWrite, JudgeSecurity(NullDacl().get(), kFolder, false));
    EXPECT_EQ(TrustProblem::Unreadable, JudgeSecurity(nullptr, kFolder, false));
    // A link comes first, whoever owns it.
    EXPECT_EQ(TrustProblem::ReparsePoint, Judge(L"O:BAD:P(A;;FA;;;SY)", kFolder | FILE_ATTRIBUTE_REPARSE_POINT));
}

TEST(FolderTrustTest, RootsAndParentsMayLetUsersAddEntries)
{
    // Windows' own C:\ lets authenticated users add folders.
    const wchar_t* pszRoot = L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)";
    EXPECT_EQ(TrustProblem::None, Judge(pszRoot, kFolder, true));
    EXPECT_EQ(TrustProblem::OthersCanWrite, Judge(pszRoot, kFolder, false));
    EXPECT_EQ(TrustProblem::OthersCanWrite, Judge(L"O:SYD:(A;;0x2;;;AU)", kFolder, true));
    // C:\ProgramData lets users add files and folders: fine above ours, not for ours.
    const wchar_t* pszProgramData = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";
    EXPECT_EQ(TrustProblem::None, JudgeParent(pszProgramData));
    EXPECT_EQ(TrustProblem::OthersCanWrite, Judge(pszProgramData));
    for (const wchar_t* pszSddl : {L"O:BAD:(A;;SD;;;BU)", L"O:BAD:(A;;0x40;;;BU)", L"O:BAD:(A;;WD;;;BU)"})
        EXPECT_EQ(TrustProblem::OthersCanWrite, JudgeParent(pszSddl)) << CString::FromWide(pszSddl).GetString();
    EXPECT_EQ(TrustProblem::OthersCanWrite, JudgeParentSecurity(NullDacl().get(), kFolder));
    EXPECT_EQ(TrustProblem::OwnerNotTrusted, JudgeParent(L"O:BUD:P(A;;FA;;;SY)"));
}

TEST(FolderTrustTest, RealFilesAndFolders)
{
    const CTempDir temp;
    const std::wstring folder = FromUtf8(temp.Path());
    const std::wstring file = FromUtf8(temp.MakeFile("undo.reg", "REGEDIT4"));
    std::wstring where;
    EXPECT_EQ(TrustProblem::Missing, CheckPathTrust(folder + L"\\absent\\x.reg", &where));
    EXPECT_EQ(folder + L"\\absent\\x.reg", where);
    // A user's temporary folder is the user's: never trusted, whatever the system.
    EXPECT_NE(TrustProblem::None, CheckPathTrust(file, &where));
    EXPECT_FALSE(where.empty());
    EXPECT_EQ(where, file.substr(0, where.size()));

    std::wstring made;
    TrustProblem problem = TrustProblem::None;
    EXPECT_EQ(ERROR_INVALID_SECURITY_DESCR, CreateTrustedFolder(folder, {L"Kelvara", L"Undo"}, made, &problem));
    EXPECT_NE(TrustProblem::None, problem);
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\Kelvara").c_str()));
    for (const wchar_t* pszBad : {L"", L"..", L"a\\b", L"c:d"})
        EXPECT_EQ(ERROR_INVALID_NAME, CreateTrustedFolder(folder, {L"Kelvara", pszBad}, made));

    // Deleted through its handle.
    const std::wstring snapshot = FromUtf8(temp.MakeFile("snapshot.dat", "keys"));
    HANDLE hFile = OpenFileNoReparse(snapshot, GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    EXPECT_TRUE(DeleteOpenFile(hFile));
    CloseHandle(hFile);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(snapshot.c_str()));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenFileNoReparse(snapshot, GENERIC_READ, 0, OPEN_EXISTING));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    // A file that took the name meanwhile is not the one deleted. (Windows
    // deletes the moved file; Wine 8 deletes nothing once a name has moved.)
    hFile = OpenFileNoReparse(file, GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    ASSERT_TRUE(MoveFileW(file.c_str(), (folder + L"\\moved.reg").c_str()));
    temp.MakeFile("undo.reg", "another");
    EXPECT_TRUE(DeleteOpenFile(hFile));
    CloseHandle(hFile);
    EXPECT_EQ("another", ReadFileText(temp / "undo.reg"));
}
