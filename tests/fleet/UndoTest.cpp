// Undo files: every kind of value put back exactly, whichever program applies
// the file; a damaged or foreign file refused before anything changes; a
// repair undone and its undo undone; a press killed midway completed at the
// next start.
#include "demo/DemoFixture.h"
#include "engine/undo/UndoJournal.h"
#include "system/Crypto.h"
#include <fstream>

namespace {
const wchar_t MACHINE_KEY[] = L"SOFTWARE\\Classes\\KelvaraUndoTest";
const wchar_t USER_KEY[] = L"Software\\Classes\\KelvaraUndoTest";

std::vector<BYTE> Bytes(const std::wstring& text, bool bTerminated = true)
{
    const BYTE* p = reinterpret_cast<const BYTE*>(text.data());
    std::vector<BYTE> bytes(p, p + text.size() * sizeof(wchar_t));
    if (bTerminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// Every kind of value, and names a registry file must escape.
std::vector<RegistryValue> EveryKindOfValue()
{
    return {
        {L"", REG_SZ, Bytes(L"the default value")},
        {L"plain", REG_SZ, Bytes(L"C:\\Path\\With \"quotes\", = and ] signs")},
        {L"expand", REG_EXPAND_SZ, Bytes(L"%SystemRoot%\\system32")},
        {L"multi", REG_MULTI_SZ, Bytes(std::wstring(L"one\0two\0", 8))},
        {L"binary", REG_BINARY, {0x00, 0x01, 0x7F, 0xFF}},
        {L"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
        {L"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {L"none", REG_NONE, {9, 8, 7}},
        {L"empty string", REG_SZ, {}},
        {L"empty binary", REG_BINARY, {}},
        {L"embedded NUL", REG_SZ, Bytes(std::wstring(L"before\0after", 12))},
        {L"odd length", REG_SZ, {0x41, 0x00, 0x42}},
        {L"short dword", REG_DWORD, {1, 2}},
        {L"line breaks", REG_SZ, Bytes(L"first\r\nsecond")},
        {L"type 0x4B46", 0x4B46, {1}},
        {L"quote \" backslash \\ bracket ] equals = \x00FC\x00F1\x00EF \x4E2D\x6587", REG_SZ, Bytes(L"\x00E9t\x00E9")},
        {L"long", REG_SZ, Bytes(std::wstring(16000, L'x'))},
    };
}

void WriteValues(HKEY hRoot, const std::wstring& strKey, const std::vector<RegistryValue>& values)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hRoot, strKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | SnapshotView(), nullptr,
                                             &hKey, nullptr));
    for (const RegistryValue& value : values)
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(hKey, value.strName.c_str(), 0, value.dwType,
                                                value.data.empty() ? nullptr : value.data.data(),
                                                static_cast<DWORD>(value.data.size())));
    RegCloseKey(hKey);
}

void DeleteTestKeys()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, MACHINE_KEY);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, MACHINE_KEY, SnapshotView(), 0);
    RegDeleteTreeW(HKEY_CURRENT_USER, USER_KEY);
    RegDeleteKeyW(HKEY_CURRENT_USER, USER_KEY);
}

// The test keys as the system's own 64-bit registry editor exports them.
std::string Exported()
{
    return RegeditExport("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\KelvaraUndoTest") +
           RegeditExport("HKEY_CURRENT_USER\\Software\\Classes\\KelvaraUndoTest");
}

// What a press does to the test keys: deletes some, changes some, adds some.
void ChangeTestKeys()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(MACHINE_KEY) + L"\\Values").c_str());
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(MACHINE_KEY) + L"\\Values").c_str(), SnapshotView(), 0);
    WriteValues(HKEY_LOCAL_MACHINE, std::wstring(MACHINE_KEY) + L"\\Created\\Deeper", {{L"new", REG_SZ, Bytes(L"n")}});
    WriteValues(HKEY_CURRENT_USER, USER_KEY, {{L"changed", REG_DWORD, {2, 0, 0, 0}}, {L"added", REG_SZ, Bytes(L"a")}});
    HKEY hKey = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(MACHINE_KEY) + L"\\Sub \x00FC=]").c_str(), 0, KEY_SET_VALUE | SnapshotView(), &hKey);
    RegDeleteValueW(hKey, L"kept");
    RegCloseKey(hKey);
}

std::string WriteBytes(const CTempDir& dir, const std::string& name, const std::vector<BYTE>& bytes)
{
    const std::string path = dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<BYTE> ReadBytes(const std::string& path)
{
    const std::string text = ReadFileText(path);
    return std::vector<BYTE>(text.begin(), text.end());
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// The value of "key":"..." in a line of JSON, unescaped enough for a path.
std::string JsonField(const std::string& line, const std::string& key)
{
    const size_t nStart = line.find("\"" + key + "\":\"");
    if (nStart == std::string::npos) return "";
    std::string value;
    for (size_t i = nStart + key.size() + 4; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\') ++i;
        value += line[i];
    }
    return value;
}

// The path the "Undo file: <path> (restores ..." line names.
std::string UndoFileIn(const std::string& text, const char* pszLead = "Undo file: ")
{
    const size_t nStart = text.find(pszLead);
    if (nStart == std::string::npos) return "";
    const size_t nPath = nStart + strlen(pszLead);
    return text.substr(nPath, text.find(" (restores", nPath) - nPath);
}

UndoFileHeader Header(const CRegistrySnapshot& snapshot)
{
    UndoFileHeader header;
    header.strAction = L"Test";
    header.strTime = L"now";
    header.ftTaken = snapshot.TakenAt();
    header.strUserSid = CurrentUserSid();
    return header;
}

UndoSeal Seal(KeyScope scope = KeyScope::Machine)
{
    UndoSeal seal;
    seal.scope = scope;
    EXPECT_EQ(0u, ReadSecretKey(scope, seal.key));
    return seal;
}

UndoFileProblem Parse(const std::vector<BYTE>& bytes)
{
    std::vector<RegistryKeyChange> parsed;
    std::wstring strDetail;
    return ParseUndoFile(bytes, parsed, strDetail, ReadSecretKey);
}

std::wstring TextOf(const std::vector<BYTE>& bytes)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

std::vector<BYTE> BytesOf(const std::wstring& text)
{
    std::vector<BYTE> bytes = {0xFF, 0xFE};
    bytes.insert(bytes.end(), reinterpret_cast<const BYTE*>(text.data()), reinterpret_cast<const BYTE*>(text.data() + text.size()));
    return bytes;
}

// The file with its last line replaced: a seal made with another key, as a
// forger with a user's key or a recomputed checksum would.
std::vector<BYTE> Resealed(const std::vector<BYTE>& bytes, const std::wstring& strScope, const std::vector<BYTE>& key)
{
    std::wstring text = TextOf(bytes);
    const std::wstring strPrefix = L"; End of undo file. Check: ";
    text.erase(text.rfind(strPrefix));
    std::vector<BYTE> mac;
    HmacSha256(key, text.data(), text.size() * sizeof(wchar_t), mac);
    return BytesOf(text + strPrefix + (strScope.empty() ? L"" : L"HMAC-SHA256 " + strScope) + HexText(mac) + L"\r\n");
}

std::string Tool()
{
    return sizeof(void*) == 8 ? Quoted(OwnProgramPath()) + " " : Quoted(TestProgramFolder() + "\\ForgeSupport.com") + " ";
}
}

TEST(UndoFile, PutsBackEveryKindOfValueExactlyWhicheverProgramAppliesIt)
{
    DeleteTestKeys();
    WriteValues(HKEY_LOCAL_MACHINE, std::wstring(MACHINE_KEY) + L"\\Values", EveryKindOfValue());
    WriteValues(HKEY_LOCAL_MACHINE, std::wstring(MACHINE_KEY) + L"\\Sub \x00FC=]",
                {{L"kept", REG_SZ, Bytes(L"k")}, {L"", REG_DWORD, {1, 0, 0, 0}}});
    WriteValues(HKEY_CURRENT_USER, USER_KEY, {{L"changed", REG_DWORD, {1, 0, 0, 0}}});
    const CTempDir dir;
    const std::string file = dir / "undo.reg";

    // Our own reading of the file, the registry editor, and reg import.
    const std::vector<std::function<void()>> appliers = {
        [&] {
            std::vector<RegistryKeyChange> parsed;
            std::wstring strDetail;
            ASSERT_EQ(UndoFileProblem::None, ParseUndoFile(ReadBytes(file), parsed, strDetail, ReadSecretKey))
                << CString::FromWide(strDetail.c_str()).Str();
            DWORD dwError = 0;
            std::wstring strKey;
            EXPECT_TRUE(ApplyRegistryChanges(parsed, dwError, strKey)) << dwError;
        },
        [&] { EXPECT_EQ(0u, RunProcess("C:\\windows\\regedit.exe /s " + Quoted(file)).exitCode); },
        [&] { EXPECT_EQ(0u, RunProcess("reg.exe import " + Quoted(file) + " /reg:64").exitCode); },
    };
    for (size_t i = 0; i < appliers.size(); ++i) {
        // Wine's importers cut a string value of odd length to whole
        // characters: only our own keeps its last byte.
        if (i == 1) RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(MACHINE_KEY) + L"\\Values").c_str(), L"odd length");
        const std::string exported = Exported();
        CRegistrySnapshot before;
        ASSERT_TRUE(before.Capture());
        ChangeTestKeys();
        UndoCounts counts;
        WriteBytes(dir, "undo.reg", FormatUndoFile(before.CompareWithRegistry(), Header(before), Seal(), &counts));
        EXPECT_EQ(4, counts.nKeys) << "Created deleted, Values put back, Sub's and the user key's values";
        EXPECT_EQ(static_cast<int>(EveryKindOfValue().size()) + 3 - (i ? 1 : 0), counts.nValues);

        appliers[i]();
        EXPECT_EQ("", RegistryDifferences(before)) << "applier " << i;
        EXPECT_TRUE(exported == Exported()) << "applier " << i << ": the registry editor's exports differ";
    }
    DeleteTestKeys();
}

TEST(UndoFile, ADamagedForgedOrCraftedFileIsRefusedAndChangesNothing)
{
    DeleteTestKeys();
    WriteValues(HKEY_CURRENT_USER, USER_KEY, {{L"value", REG_SZ, Bytes(L"before")}});
    CRegistrySnapshot before;
    ASSERT_TRUE(before.Capture());
    RegDeleteKeyValueW(HKEY_CURRENT_USER, USER_KEY, L"value");
    const std::vector<RegistryKeyChange> changes = before.CompareWithRegistry();
    ASSERT_EQ(1u, changes.size());
    const UndoFileHeader header = Header(before);
    const std::vector<BYTE> good = FormatUndoFile(changes, header, Seal());
    const auto sealed = [&](const std::wstring& strPath, bool bDelete) {
        return FormatUndoFile({{strPath, bDelete, {}}}, header, Seal());
    };
    std::vector<BYTE> altered = good;
    altered[altered.size() / 2] ^= 1;
    std::wstring foreignText = TextOf(good);
    const std::wstring strMark = L"; Forge Support undo file";
    foreignText.replace(foreignText.find(strMark), strMark.size(), L"; Exported by hand       ");
    // A user's own key may seal the user's keys only.
    const std::vector<BYTE> machineChange = sealed(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\KelvaraUndoTest\\x", false);
    const std::vector<BYTE> userKey = Seal(KeyScope::User).key;
    const std::wstring classes = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";

    const std::vector<std::pair<const char*, std::pair<UndoFileProblem, std::vector<BYTE>>>> table = {
        {"altered", {UndoFileProblem::NotOurs, altered}},
        {"cut short", {UndoFileProblem::Damaged, std::vector<BYTE>(good.begin(), good.end() - 40)}},
        {"foreign mark", {UndoFileProblem::NotOurs, BytesOf(foreignText)}},
        {"another tool's file", {UndoFileProblem::NotOurs, {'R', 'E', 'G', 'E', 'D', 'I', 'T', '4'}}},
        {"checksum recomputed", {UndoFileProblem::NotOurs, Resealed(machineChange, L"", {})}},
        {"sealed with another key", {UndoFileProblem::NotOurs, Resealed(machineChange, L"machine ", std::vector<BYTE>(32, 7))}},
        {"user's key, machine's keys", {UndoFileProblem::Unsafe, Resealed(machineChange, L"user ", userKey)}},
        {"user's key, user's keys", {UndoFileProblem::None, Resealed(good, L"user ", userKey)}},
        {"outside the classes", {UndoFileProblem::Unsafe, sealed(L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet", false)}},
        {"whole root", {UndoFileProblem::Unsafe, sealed(L"HKEY_CURRENT_USER\\Software\\Classes", true)}},
        {"root, trailing backslash", {UndoFileProblem::Unsafe, sealed(classes + L"\\", true)}},
        {"doubled backslash", {UndoFileProblem::Unsafe, sealed(classes + L"\\\\CLSID", true)}},
        {"name past 255", {UndoFileProblem::Unsafe, sealed(classes + L"\\" + std::wstring(256, L'k'), false)}},
        {"CLSID", {UndoFileProblem::Unsafe, sealed(classes + L"\\CLSID", true)}},
        {"32-bit TypeLib", {UndoFileProblem::Unsafe, sealed(classes + L"\\Wow6432Node\\TypeLib", true)}},
        {"Wow6432Node", {UndoFileProblem::Unsafe, sealed(classes + L"\\WOW6432NODE", true)}},
        {"a class's key", {UndoFileProblem::None, sealed(classes + L"\\CLSID\\{4B46A0E1-0000-0000-0000-000000000000}", true)}},
    };
    for (const auto& [name, expected] : table) EXPECT_EQ(expected.first, Parse(expected.second)) << name;

    // The program refuses them with a message, writes no undo file of its own
    // and changes nothing; so it does a sealed file that would delete a key
    // older than the change it undoes.
    UndoFileHeader later = header;
    later.ftTaken.dwHighDateTime += 1;   // about seven minutes later
    const std::vector<BYTE> older = FormatUndoFile({{L"HKEY_CURRENT_USER\\" + std::wstring(USER_KEY), true, {}}}, later, Seal());
    const CTempDir dir;
    const std::string last = CString::FromWide(LastUndoFile().c_str()).Str();
    for (const auto& [name, bytes] : {std::make_pair("altered.reg", altered), std::make_pair("clsid.reg", sealed(classes + L"\\CLSID", true)),
                                      std::make_pair("older.reg", older)}) {
        const ProcessOutput run = RunProcess(Tool() + "/undo " + Quoted(WriteBytes(dir, name, bytes)));
        EXPECT_EQ(74u, run.exitCode) << name;
        EXPECT_NE(std::string::npos, run.err.find(name)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("Nothing was changed.")) << run.err;
    }
    EXPECT_EQ(74u, RunProcess(Tool() + "/undo " + Quoted(dir / "missing.reg")).exitCode);
    EXPECT_EQ(64u, RunProcess(Tool() + "/undo").exitCode);
    EXPECT_EQ(last, CString::FromWide(LastUndoFile().c_str()).Str());
    EXPECT_EQ(1u, before.CompareWithRegistry().size()) << "only the test's own deletion differs";
    DeleteTestKeys();
}

using UndoRepair = DemoFixture;

TEST_F(UndoRepair, ARepairIsUndoneAndItsUndoUndoneKeyByKey)
{
    CRegistrySnapshot beforeRepair;
    ASSERT_TRUE(beforeRepair.Capture());
    // A report that cannot be written is known before any server runs.
    const CTempDir dir;
    const ProcessOutput refused = RunProcess(Tool() + "/repair /report " + Quoted(dir / "missing\\repair.json"));
    EXPECT_EQ(74u, refused.exitCode) << refused.err;
    EXPECT_EQ("", RegistryDifferences(beforeRepair)) << "a server ran";

    const ProcessOutput repair = RunProcess(Tool() + "/repair /report " + Quoted(dir / "repair.json") + " /format json");
    EXPECT_NE(std::string::npos, ReadFileText(dir / "repair.json").find("\"exitCode\": " + std::to_string(repair.exitCode) + ","))
        << "the report's exit code is the process's";
    const std::string file = JsonField(repair.out.substr(std::min(repair.out.find("\"undo\":{"), repair.out.size())), "file");
    ASSERT_NE("", file) << repair.out;
    EXPECT_NE(std::string::npos, repair.out.find(",\"keys\":")) << repair.out;
    CRegistrySnapshot afterRepair;
    ASSERT_TRUE(afterRepair.Capture());
    EXPECT_FALSE(beforeRepair.CompareWithRegistry().empty());
    // Back to the installation as it was, which its removal expects, however the test ends.
    struct CUndoAtEnd {
        const std::string& file;
        ~CUndoAtEnd() { RunProcess(Tool() + "/undo " + Quoted(file)); }
    } undoAtEnd{file};

    const ProcessOutput undo = RunProcess(Tool() + "/undo " + Quoted(file));
    EXPECT_EQ(0u, undo.exitCode) << undo.err;
    EXPECT_TRUE(beforeRepair.CompareWithRegistry().empty()) << undo.out;
    const std::string own = UndoFileIn(undo.out);
    ASSERT_NE("", own) << undo.out;

    const ProcessOutput redo = RunProcess(Tool() + "/undo " + Quoted(own));
    EXPECT_EQ(0u, redo.exitCode) << redo.err;
    EXPECT_TRUE(afterRepair.CompareWithRegistry().empty()) << "the undo of the undo is the state after the repair";
}

TEST(UndoKilled, APressKilledMidwayLeavesAnUndoFileTheNextStartCompletes)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("System");
    // Rows run in name order: this server before the one that hangs.
    dir.CopyIn(TestProgramFolder() + "\\ForgeSampleServer.dll", "System\\KfBuild.dll");
    dir.CopyIn(TestProgramFolder() + "\\HangSrv.exe", "System\\KfBuildSrv.exe");
    CScopedRegValue common(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", dir / "Common");
    DeleteTestKeys();
    CRegistrySnapshot before;
    ASSERT_TRUE(before.Capture());
    // The press's snapshot, by name; empty while there is none.
    const auto snapshot = [] {
        WIN32_FIND_DATAW data = {};
        HANDLE hFind = FindFirstFileW((UndoFolder() + L"\\*.snapshot").c_str(), &data);
        if (hFind == INVALID_HANDLE_VALUE) return std::wstring();
        FindClose(hFind);
        return UndoFolder() + L"\\" + data.cFileName;
    };

    // The repair waits on a server that never ends; meanwhile the registry
    // changes, and then the repair is ended as a power cut would end it.
    std::string command = Tool() + "/repair /timeout 600 /folder " + Quoted(system);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info));
    EXPECT_TRUE(WaitFor([&] { return !snapshot().empty() && CountProcesses("KfBuildSrv.exe") > 0; }, 60));
    // The server that ran before the hung one is in the press's undo file already.
    std::string during;
    {
        const std::wstring left = snapshot();
        during = CString::FromWide((left.substr(0, left.rfind(L'.')) + L".reg").c_str()).Str();
        const std::string bytes = ReadFileText(during);
        const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        EXPECT_NE(std::wstring::npos, text.find(L"; Written while the change went on")) << during;
        EXPECT_NE(std::wstring::npos, text.find(L"ForgeBuild.Builder.1]")) << during;
    }
    WriteValues(HKEY_CURRENT_USER, USER_KEY, {{L"during", REG_SZ, Bytes(L"the press")}});
    TerminateProcess(info.hProcess, 9);
    WaitForSingleObject(info.hProcess, 10000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    EXPECT_TRUE(WaitFor([] { return CountProcesses("KfBuildSrv.exe") == 0; }, 10)) << "the server ends with the press";

    const ProcessOutput next = RunProcess(Tool() + "/report " + Quoted(dir / "report.txt") + " /folder " + Quoted(system));
    const std::string file = UndoFileIn(next.err, "its undo file was completed: ");
    ASSERT_NE("", file) << next.err;
    EXPECT_EQ(during, file) << "completed in place of the file written as the press went";
    const std::string bytes = ReadFileText(file);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    EXPECT_NE(std::wstring::npos, text.find(L"; Completed at the next start")) << file;
    EXPECT_EQ(0u, RunProcess(Tool() + "/undo " + Quoted(file)).exitCode);
    EXPECT_TRUE(before.CompareWithRegistry().empty());
    EXPECT_EQ("", UndoFileIn(RunProcess(Tool() + "/report " + Quoted(dir / "again.txt")).err, "its undo file was completed: "))
        << "completed once only";
    DeleteTestKeys();
}

namespace {
void Append(std::vector<BYTE>& out, const void* p, size_t n)
{
    out.insert(out.end(), static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + n);
}
void AppendWord(std::vector<BYTE>& out, uint32_t n)
{
    Append(out, &n, 4);
}
void AppendText(std::vector<BYTE>& out, const std::wstring& str)
{
    AppendWord(out, static_cast<uint32_t>(str.size()));
    Append(out, str.data(), str.size() * sizeof(wchar_t));
}

// A snapshot of a root and, when given, a key below it (or a second root,
// when its name is a path), taken at the time given.
std::vector<BYTE> SnapshotBytes(const std::wstring& strRoot, const std::wstring& strSecondKey, const FILETIME& ftTaken)
{
    std::vector<BYTE> bytes;
    const uint32_t nKeys = strSecondKey.empty() ? 1 : 2;
    Append(bytes, "FSSNAP03", 8);
    AppendWord(bytes, ftTaken.dwLowDateTime);
    AppendWord(bytes, ftTaken.dwHighDateTime);
    for (const std::wstring& strName : {strRoot, strSecondKey}) {
        if (strName.empty()) continue;
        const bool bRoot = strName.rfind(L"HKEY_", 0) == 0;
        AppendWord(bytes, bRoot ? 1 : 2);
        AppendText(bytes, strName);
        for (uint32_t n : {0u, 0x01D00000u, 0u, bRoot ? nKeys - 1 : 0u, 0u, 0u}) AppendWord(bytes, n);
    }
    AppendWord(bytes, 0);
    Append(bytes, "FSSNAPEN", 8);
    AppendWord(bytes, nKeys);
    return bytes;
}

// A left snapshot of two keys, sealed with the machine's key (or not): a
// root, and a second key whose name is what the caller makes it.
std::vector<BYTE> LeftSnapshot(const std::wstring& strSecondKey, bool bSealed)
{
    std::vector<BYTE> bytes;
    Append(bytes, "FSPEND02", 8);
    AppendWord(bytes, 1);
    AppendText(bytes, L"Repair");
    AppendText(bytes, L"2026-01-01 00:00:00");
    const std::vector<BYTE> snapshot = SnapshotBytes(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", strSecondKey, {0, 0x01D00000});
    bytes.insert(bytes.end(), snapshot.begin(), snapshot.end());
    std::vector<BYTE> mac(32, 0);
    if (bSealed) HmacSha256(Seal().key, bytes.data(), bytes.size(), mac);
    Append(bytes, mac.data(), mac.size());
    return bytes;
}
}

TEST(UndoKilled, ALeftSnapshotThatIsForgedOrCraftedIsSetAsideOnceAndNeverStopsAStart)
{
    const std::wstring folder = UndoFolder();
    const std::vector<std::pair<std::wstring, std::vector<BYTE>>> files = {
        {L"2001-01-01 000000 Forged.snapshot", LeftSnapshot(L"x", false)},
        {L"2001-01-01 000001 Outside.snapshot", LeftSnapshot(L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet", true)},
        {L"2001-01-01 000002 Nested.snapshot", LeftSnapshot(L"a\\b", true)},
        // Sound, but taken years ago: completing it would undo what changed since.
        {L"2001-01-01 000003 Old.snapshot", LeftSnapshot(L"KelvaraOld", true)},
    };
    for (const auto& [name, bytes] : files) {
        std::ofstream(CString::FromWide((folder + L"\\" + name).c_str()).Str(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const CTempDir dir;
    const ProcessOutput first = RunProcess(Tool() + "/report " + Quoted(dir / "first.txt"));
    EXPECT_NE(70u, first.exitCode) << first.err;
    EXPECT_NE(std::string::npos, first.err.find("hours ago, longer than any press lasts")) << first.err;
    for (const auto& [name, bytes] : files) {
        const std::string path = CString::FromWide((folder + L"\\" + name).c_str()).Str();
        EXPECT_NE(std::string::npos, first.err.find(path + ".unusable")) << first.err;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
        EXPECT_TRUE(DeleteFileA((path + ".unusable").c_str())) << path;
    }
    const ProcessOutput second = RunProcess(Tool() + "/report " + Quoted(dir / "second.txt"));
    EXPECT_EQ(std::string::npos, second.err.find("set aside")) << second.err;
}

TEST(UndoFile, TheComparisonNeverDeletesARegistrationRootOrAKeyOlderThanTheSnapshot)
{
    // Snapshots that lack every key below the user's classes, as a read that
    // another program's changes made skip them would.
    const std::wstring root = L"HKEY_CURRENT_USER\\Software\\Classes";
    WriteValues(HKEY_CURRENT_USER, USER_KEY, {{L"v", REG_SZ, Bytes(L"v")}});
    HKEY hClsid = nullptr;
    DWORD dwDisposition = 0;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID", 0, nullptr, 0, KEY_READ, nullptr, &hClsid, &dwDisposition);
    RegCloseKey(hClsid);
    FILETIME ftNow = {};
    GetSystemTimeAsFileTime(&ftNow);
    FILETIME ftLater = ftNow;
    ftLater.dwHighDateTime += 1;
    const auto deletions = [&](const FILETIME& ftTaken) {
        CRegistrySnapshot snapshot;
        EXPECT_TRUE(snapshot.Load(SnapshotBytes(root, L"", ftTaken)));
        std::string text;
        for (const RegistryKeyChange& change : snapshot.CompareWithRegistry())
            if (change.bDelete) text += CString::FromWide(change.strPath.c_str()).Str() + "\n";
        return text;
    };
    // The machine's root is missing from these snapshots: what it holds now
    // was made since, but for its own keys.
    WriteValues(HKEY_LOCAL_MACHINE, MACHINE_KEY, {{L"v", REG_SZ, Bytes(L"v")}});
    const std::string early = deletions({0, 0x01000000});
    EXPECT_NE(std::string::npos, early.find("HKEY_CURRENT_USER\\Software\\Classes\\KelvaraUndoTest\n")) << early;
    EXPECT_NE(std::string::npos, early.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\KelvaraUndoTest\n")) << early;
    EXPECT_EQ(std::string::npos, early.find("\\CLSID\n")) << early;
    EXPECT_EQ("", deletions(ftLater)) << "every key there predates the snapshot";
    if (dwDisposition == REG_CREATED_NEW_KEY) RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID");
    DeleteTestKeys();
}

TEST(UndoFile, AFileWrittenForAnotherAccountChangesThatAccountsKeysOnly)
{
    DeleteTestKeys();
    // Under Wine a key made below HKEY_USERS stands for another account's loaded profile.
    const std::wstring other = L"S-1-5-21-1111-2222-3333-1001";
    const std::wstring otherClasses = other + L"\\Software\\Classes";
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_USERS, otherClasses.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &hKey, nullptr));
    RegCloseKey(hKey);
    CRegistrySnapshot before;
    ASSERT_TRUE(before.Capture());
    const RegistryKeyChange change = {L"HKEY_CURRENT_USER\\" + std::wstring(USER_KEY), false, {{{L"v", REG_SZ, Bytes(L"theirs")}, false}}};
    const auto fileFor = [&](const std::wstring& strSid, const std::string& name, const CTempDir& dir) {
        UndoFileHeader header = Header(before);
        header.strUserSid = strSid;
        return WriteBytes(dir, name, FormatUndoFile({change}, header, Seal()));
    };
    const CTempDir dir;
    const ProcessOutput applied = RunProcess(Tool() + "/undo " + Quoted(fileFor(other, "theirs.reg", dir)));
    EXPECT_EQ(0u, applied.exitCode) << applied.err;
    EXPECT_NE(std::string::npos, applied.out.find(CString::FromWide(other.c_str()).Str())) << applied.out;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_USERS, (otherClasses + L"\\KelvaraUndoTest").c_str(), L"v", RRF_RT_REG_SZ,
                                          nullptr, nullptr, nullptr));
    EXPECT_EQ("", RegistryDifferences(before)) << "the account applying it is untouched";

    const ProcessOutput refused = RunProcess(Tool() + "/undo " + Quoted(fileFor(L"S-1-5-21-9-9-9-9", "nobody.reg", dir)));
    EXPECT_EQ(74u, refused.exitCode);
    EXPECT_NE(std::string::npos, refused.err.find("another account")) << refused.err;
    EXPECT_EQ("", RegistryDifferences(before));
    RegDeleteTreeW(HKEY_USERS, other.c_str());
    RegDeleteKeyW(HKEY_USERS, other.c_str());
}

TEST(UndoFile, WhatChangesOnItsOwnBelowTheClassesIsLeftOut)
{
    DeleteTestKeys();
    const std::wstring localSettings = L"Software\\Classes\\Local Settings\\KelvaraUndoTest";
    HKEY hKey = nullptr;
    const bool bHadLocalSettings =
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\Local Settings", 0, KEY_READ, &hKey) == ERROR_SUCCESS;
    if (hKey) RegCloseKey(hKey);
    CRegistrySnapshot before;
    ASSERT_TRUE(before.Capture());
    WriteValues(HKEY_CURRENT_USER, localSettings, {{L"MuiCache", REG_SZ, Bytes(L"Explorer's own")}});
    WriteValues(HKEY_CURRENT_USER, USER_KEY, {{L"v", REG_SZ, Bytes(L"a server's")}});
    const std::vector<RegistryKeyChange> changes = before.CompareWithRegistry();
    ASSERT_EQ(1u, changes.size()) << RegistryDifferences(before);
    EXPECT_EQ(L"HKEY_CURRENT_USER\\" + std::wstring(USER_KEY), changes[0].strPath);
    const std::wstring text = TextOf(FormatUndoFile(changes, Header(before), Seal()));
    EXPECT_NE(std::wstring::npos, text.find(L"; Covers: HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes, HKEY_CURRENT_USER\\Software\\Classes; "
                                            L"left out below them: Local Settings,"));
    const std::wstring created = bHadLocalSettings ? localSettings : L"Software\\Classes\\Local Settings";
    RegDeleteTreeW(HKEY_CURRENT_USER, created.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, created.c_str());
    DeleteTestKeys();
}
