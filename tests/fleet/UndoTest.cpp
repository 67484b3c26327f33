// Undo files: every kind of value put back exactly, whichever program applies
// the file; a damaged or foreign file refused before anything changes; a
// repair undone and its undo undone; a press killed midway completed at the
// next start.
#include "demo/DemoFixture.h"
#include "engine/undo/UndoJournal.h"
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
            ASSERT_EQ(UndoFileProblem::None, ParseUndoFile(ReadBytes(file), parsed, strDetail))
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
        WriteBytes(dir, "undo.reg", FormatUndoFile(before.CompareWithRegistry(), {L"Test", L"now", L"", L"", L""}, &counts));
        EXPECT_EQ(4, counts.nKeys) << "Created deleted, Values put back, Sub's and the user key's values";
        EXPECT_EQ(static_cast<int>(EveryKindOfValue().size()) + 3 - (i ? 1 : 0), counts.nValues);

        appliers[i]();
        EXPECT_EQ("", RegistryDifferences(before)) << "applier " << i;
        EXPECT_TRUE(exported == Exported()) << "applier " << i << ": the registry editor's exports differ";
    }
    DeleteTestKeys();
}

TEST(UndoFile, ADamagedOrForeignFileIsRefusedAndChangesNothing)
{
    DeleteTestKeys();
    WriteValues(HKEY_CURRENT_USER, USER_KEY, {{L"value", REG_SZ, Bytes(L"before")}});
    CRegistrySnapshot before;
    ASSERT_TRUE(before.Capture());
    RegDeleteKeyValueW(HKEY_CURRENT_USER, USER_KEY, L"value");
    const std::vector<RegistryKeyChange> changes = before.CompareWithRegistry();
    ASSERT_EQ(1u, changes.size());
    std::vector<BYTE> good = FormatUndoFile(changes, {L"Test", L"now", L"", L"", L""});

    std::vector<BYTE> altered = good;
    altered[altered.size() / 2] ^= 1;
    const std::vector<BYTE> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() - 40));
    std::vector<RegistryKeyChange> elsewhere = changes;
    elsewhere[0].strPath = L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet";
    const std::vector<BYTE> outside = FormatUndoFile(elsewhere, {L"Test", L"now", L"", L"", L""});
    std::vector<BYTE> foreign = good;
    const std::wstring strMark = L"; Forge Support undo file";
    std::wstring text(reinterpret_cast<const wchar_t*>(foreign.data() + 2), (foreign.size() - 2) / 2);
    text.replace(text.find(strMark), strMark.size(), L"; Exported by hand       ");
    foreign = {0xFF, 0xFE};
    foreign.insert(foreign.end(), reinterpret_cast<const BYTE*>(text.data()), reinterpret_cast<const BYTE*>(text.data() + text.size()));

    std::vector<RegistryKeyChange> parsed;
    std::wstring strDetail;
    EXPECT_EQ(UndoFileProblem::None, ParseUndoFile(good, parsed, strDetail));
    EXPECT_EQ(UndoFileProblem::Damaged, ParseUndoFile(altered, parsed, strDetail));
    EXPECT_EQ(UndoFileProblem::Damaged, ParseUndoFile(cut, parsed, strDetail));
    EXPECT_EQ(UndoFileProblem::NotOurs, ParseUndoFile(outside, parsed, strDetail));
    const std::vector<RegistryKeyChange> wholeRoot = {{L"HKEY_CURRENT_USER\\Software\\Classes", true, {}}};
    EXPECT_EQ(UndoFileProblem::NotOurs, ParseUndoFile(FormatUndoFile(wholeRoot, {}), parsed, strDetail));
    EXPECT_EQ(UndoFileProblem::NotOurs, ParseUndoFile(foreign, parsed, strDetail));
    EXPECT_EQ(UndoFileProblem::NotOurs, ParseUndoFile({'R', 'E', 'G', 'E', 'D', 'I', 'T', '4'}, parsed, strDetail));

    // The program refuses them with a message, writes no undo file of its own
    // and changes nothing.
    const CTempDir dir;
    const std::string last = LastUndoFile().Str();
    for (const auto& [name, bytes] : {std::make_pair("altered.reg", altered), std::make_pair("outside.reg", outside)}) {
        const ProcessOutput run = RunProcess(Tool() + "/undo " + Quoted(WriteBytes(dir, name, bytes)));
        EXPECT_EQ(74u, run.exitCode) << name;
        EXPECT_NE(std::string::npos, run.err.find(name)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("Nothing was changed.")) << run.err;
    }
    EXPECT_EQ(74u, RunProcess(Tool() + "/undo " + Quoted(dir / "missing.reg")).exitCode);
    EXPECT_EQ(64u, RunProcess(Tool() + "/undo").exitCode);
    EXPECT_EQ(last, LastUndoFile().Str());
    EXPECT_EQ(1u, before.CompareWithRegistry().size()) << "only the test's own deletion differs";
    DeleteTestKeys();
}

using UndoRepair = DemoFixture;

TEST_F(UndoRepair, ARepairIsUndoneAndItsUndoUndoneKeyByKey)
{
    CRegistrySnapshot beforeRepair;
    ASSERT_TRUE(beforeRepair.Capture());
    const ProcessOutput repair = RunProcess(Tool() + "/repair");
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
    dir.CopyIn(TestProgramFolder() + "\\SampleShareKill.dll", "System\\KfBuild.dll");
    CScopedRegValue common(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", dir / "Common");
    CRegistrySnapshot before;
    ASSERT_TRUE(before.Capture());

    const ProcessOutput killed = RunProcess(Tool() + "/repair /folder " + Quoted(system));
    EXPECT_EQ(9u, killed.exitCode) << "the server ends the process: " << killed.out;
    EXPECT_FALSE(before.CompareWithRegistry().empty()) << "the server registered before it ended the process";

    const ProcessOutput next = RunProcess(Tool() + "/report " + Quoted(dir / "report.txt") + " /folder " + Quoted(system));
    const std::string file = UndoFileIn(next.err, "its undo file was completed: ");
    ASSERT_NE("", file) << next.err;
    const std::string bytes = ReadFileText(file);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    EXPECT_NE(std::wstring::npos, text.find(L"; Completed at the next start")) << file;
    EXPECT_EQ(0u, RunProcess(Tool() + "/undo " + Quoted(file)).exitCode);
    EXPECT_TRUE(before.CompareWithRegistry().empty());
    EXPECT_EQ("", UndoFileIn(RunProcess(Tool() + "/report " + Quoted(dir / "again.txt")).err, "its undo file was completed: "))
        << "completed once only";
}
