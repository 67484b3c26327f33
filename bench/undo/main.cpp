// Builds a class tree of 205,000 values under the user's classes, waits for
// it to age, then times in one run: a plain recursive walk of the classes
// roots that reads every value; the snapshot that a recording takes before
// any server runs (capture alone, and Begin: capture, serialize, write,
// flush); its comparison with the registry, with nothing changed and after a
// few changes; and, once the tree is gone, what a recording adds to one
// "Register Selected" press of a sample server. The registry and the undo
// folder are put back as they were.
#include "BenchTiming.h"
#include "BenchUndoFolder.h"
#include "BenchWalk.h"
#include "common/TestSupport.h"
#include "engine/components/Catalogue.h"
#include "engine/components/Registration.h"
#include "engine/components/Verification.h"
#include "engine/undo/UndoJournal.h"
#include "system/Registry.h"
#include <ole2.h>
#include <shlobj.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {
const int CLASSES = 41000;           // 5 values and 2 keys each: 205,000 values
const int ROUNDS = 5;
const double AIM = 1.5;
const wchar_t BENCH_KEY[] = L"Software\\Classes\\KelvaraUndoBench";
const char SERVER_FILE[] = "KfBuild.dll";

// An open key, closed on every path.
class CBenchKey {
public:
    CBenchKey() = default;
    ~CBenchKey() { if (m_hKey) RegCloseKey(m_hKey); }
    CBenchKey(const CBenchKey&) = delete;
    CBenchKey& operator=(const CBenchKey&) = delete;
    HKEY* Out() { return &m_hKey; }
    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

// The bench tree, deleted whatever way the run leaves it.
class CBenchTree {
public:
    CBenchTree() { Delete(); }    // a tree an interrupted run left behind
    ~CBenchTree() { Delete(); }
    CBenchTree(const CBenchTree&) = delete;
    CBenchTree& operator=(const CBenchTree&) = delete;
    bool Delete()
    {
        const LONG nResult = RegDeleteTreeW(HKEY_CURRENT_USER, BENCH_KEY);
        return nResult == ERROR_SUCCESS || nResult == ERROR_FILE_NOT_FOUND;
    }
};

// A class id per index, unique (the index is in its last group) and in no
// order, as a machine's class ids are.
std::wstring ClassKeyName(int i)
{
    uint64_t h = (static_cast<uint64_t>(i) + 1) * 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 32;
    wchar_t szName[40];
    swprintf(szName, 40, L"{%08X-%04X-4%03X-8%03X-%06X%06X}", static_cast<unsigned>(h >> 32), static_cast<unsigned>(h >> 16) & 0xFFFF,
             static_cast<unsigned>(h) & 0xFFF, static_cast<unsigned>(h >> 4) & 0xFFF, static_cast<unsigned>(h >> 40) & 0xFFFFFF,
             static_cast<unsigned>(i));
    return szName;
}

bool SetString(HKEY hKey, const wchar_t* pszName, const std::wstring& strText)
{
    return RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strText.c_str()),
                          static_cast<DWORD>((strText.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool CreateKey(HKEY hParent, const std::wstring& strName, CBenchKey& key)
{
    return RegCreateKeyExW(hParent, strName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_SET_VALUE | KEY_CREATE_SUB_KEY | SnapshotView(), nullptr, key.Out(), nullptr) == ERROR_SUCCESS;
}

// One class as a server registers it: a name, its application and a flag,
// and the in-process server's path and threading model.
bool AddClass(HKEY hClsid, int i)
{
    CBenchKey cls, server;
    const DWORD dwFlags = static_cast<DWORD>(i % 7);
    const std::wstring strIndex = std::to_wstring(i);
    return CreateKey(hClsid, ClassKeyName(i), cls) && SetString(cls.Get(), nullptr, L"Kelvara Bench Class " + strIndex) &&
           SetString(cls.Get(), L"AppID", ClassKeyName(CLASSES + i % 97)) &&
           RegSetValueExW(cls.Get(), L"Flags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwFlags), sizeof dwFlags) == ERROR_SUCCESS &&
           CreateKey(cls.Get(), L"InprocServer32", server) &&
           SetString(server.Get(), nullptr, L"C:\\Program Files\\Kelvara\\Forge 8.0\\System\\KfBench" + strIndex + L".dll") &&
           SetString(server.Get(), L"ThreadingModel", i % 3 ? L"Apartment" : L"Both");
}

bool BuildTree()
{
    CBenchKey clsid;
    if (!CreateKey(HKEY_CURRENT_USER, std::wstring(BENCH_KEY) + L"\\CLSID", clsid)) return false;
    for (int i = 0; i < CLASSES; ++i)
        if (!AddClass(clsid.Get(), i)) return false;
    return true;
}

// A handful of edits in the bench tree, as a server's registration makes
// them: changed, added and deleted values, a new key and a deleted one.
int ChangeSomeOfTheTree()
{
    const std::wstring strClsid = std::wstring(BENCH_KEY) + L"\\CLSID\\";
    int nMade = 0;
    for (int i : {7, 12345, 30001}) {
        CBenchKey cls;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (strClsid + ClassKeyName(i)).c_str(), 0, KEY_SET_VALUE | KEY_CREATE_SUB_KEY | SnapshotView(),
                          cls.Out()) != ERROR_SUCCESS)
            continue;
        nMade += SetString(cls.Get(), nullptr, L"Changed by the bench");
        nMade += SetString(cls.Get(), L"Added", L"new");
        nMade += RegDeleteValueW(cls.Get(), L"AppID") == ERROR_SUCCESS;
    }
    CBenchKey added;
    nMade += CreateKey(HKEY_CURRENT_USER, strClsid + ClassKeyName(CLASSES + 500) + L"\\InprocServer32", added);
    nMade += RegDeleteTreeW(HKEY_CURRENT_USER, (strClsid + ClassKeyName(20000) + L"\\InprocServer32").c_str()) == ERROR_SUCCESS;
    return nMade;
}

// A run that dies part-way still takes away the tree and the undo files:
// the tree alone would slow every later run in the prefix.
const CUndoFolderGuard* s_pUndoFolder = nullptr;

void CleanUpAfterFailure()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, BENCH_KEY);
    if (s_pUndoFolder) s_pUndoFolder->RemoveAdded();
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*)
{
    CleanUpAfterFailure();
    return EXCEPTION_CONTINUE_SEARCH;
}

BOOL WINAPI OnConsoleBreak(DWORD)
{
    CleanUpAfterFailure();
    return FALSE;   // and the process ends as it would have
}

struct TreeTimes {
    std::vector<double> plain, capture, begin, end, compare, compareChanged;
    WalkCount before, after;
    size_t nSnapshotKeys = 0, nSnapshotValues = 0, nSnapshotBytes = 0;
    size_t nUnchangedDiff = 0, nChangedDiff = 0;
    int nEdits = 0;
    bool bEnded = true;
};

double Timed(const std::function<void()>& work)
{
    const double start = BenchSeconds();
    work();
    return BenchSeconds() - start;
}

// Every figure on the bench tree, round after round so that drift in the
// host spreads over all of them alike.
void TimeOnTree(TreeTimes& t)
{
    CRegistrySnapshot snapshot;
    for (int round = 0; round < ROUNDS; ++round) {
        t.plain.push_back(Timed([&] { t.after = WalkRoots(); }));
        t.capture.push_back(Timed([&] { snapshot.Capture(); }));
        t.compare.push_back(Timed([&] { t.nUnchangedDiff = std::max(t.nUnchangedDiff, snapshot.CompareWithRegistry().size()); }));
        CChangeRecording recording("Register Selected");
        t.begin.push_back(Timed([&] { recording.Begin(); }));
        UndoOutcome outcome;
        t.end.push_back(Timed([&] { outcome = recording.End(); }));
        t.bEnded = t.bEnded && outcome.bRecorded && !outcome.bWritten && outcome.strError.IsEmpty();
    }
    t.nSnapshotKeys = snapshot.KeyCount();
    t.nSnapshotValues = snapshot.ValueCount();
    t.nSnapshotBytes = snapshot.ByteCount();
    t.nEdits = ChangeSomeOfTheTree();
    for (int round = 0; round < ROUNDS; ++round)
        t.compareChanged.push_back(Timed([&] { t.nChangedDiff = snapshot.CompareWithRegistry().size(); }));
}

// One "Register Selected" press of the one record, with or without a
// recording (its End included); the record is unregistered afterwards,
// untimed. Negative when the server did not register.
double TimeOnePress(const VerificationFolders& folders, bool bRecord)
{
    const CatalogueEntry* pEntry = FindCatalogueEntry(SERVER_FILE);
    ComponentItem item(pEntry->pszProgID, pEntry->pszFileName, pEntry->nKind, "-");
    CWorkProgress quiet;
    CChangeRecording recording("Register Selected");
    RunOptions options;
    options.pRecording = bRecord ? &recording : nullptr;
    bool bWritten = !bRecord;
    const double elapsed = Timed([&] {
        RegisterRecords({&item}, true, folders, quiet, options);
        if (bRecord) bWritten = recording.End().bWritten;
    });
    const bool bRegistered = IsRegistered(item);
    RegisterRecords({&item}, false, folders, quiet);
    return bRegistered && bWritten ? elapsed : -1;
}

bool TimePresses(std::vector<double>& plain, std::vector<double>& recorded)
{
    const CTempDir temp;
    const std::string path = temp.CopyIn(TestProgramFolder() + "\\ForgeSampleServer.dll", std::string("Tools\\System\\") + SERVER_FILE);
    const VerificationFolders folders{(temp / "Tools\\System").c_str(), ""};
    bool bDone = true;
    for (int round = 0; round <= ROUNDS && bDone; ++round) {
        const double a = TimeOnePress(folders, false);
        const double b = TimeOnePress(folders, true);
        bDone = a >= 0 && b >= 0;
        if (round == 0) continue;   // warm-up: the server's first load, the undo folder
        plain.push_back(a);
        recorded.push_back(b);
    }
    RegisterServerFile(path.c_str(), false);
    return bDone;
}

const char* Verdict(double ratio)
{
    return ratio <= AIM ? "meets the aim" : "misses the aim";
}

void PrintTreeTable(const TreeTimes& t)
{
    const double plain = Median(t.plain), begin = Median(t.begin), compare = Median(t.compare);
    std::printf("covered roots before the tree: %8zu keys %9zu values\n", t.before.nKeys, t.before.nValues);
    std::printf("covered roots with the tree:   %8zu keys %9zu values (snapshot: %zu keys, %zu values, %.1f MB)\n",
                t.after.nKeys, t.after.nValues, t.nSnapshotKeys, t.nSnapshotValues, t.nSnapshotBytes / 1048576.0);
    std::printf("\nmedians of %d rounds %38s %9s\n", ROUNDS, "", "seconds");
    std::printf("%-58s %9.3f\n", "plain enumeration (query, enum keys, values with data)", plain);
    std::printf("%-58s %9.3f\n", "snapshot: Capture alone", Median(t.capture));
    std::printf("%-58s %9.3f\n", "snapshot: Begin (capture, serialize, write, flush)", begin);
    std::printf("%-58s %9.3f\n", "comparison, nothing changed", compare);
    std::printf("%-58s %9.3f\n", "End, nothing changed (comparison, no undo file)", Median(t.end));
    std::printf("%-58s %9.3f\n", "comparison after a few changes", Median(t.compareChanged));
    std::printf("\nkeys to put back: %zu with nothing changed (0 expected), %zu after %d edits in 5 keys; End wrote %s\n",
                t.nUnchangedDiff, t.nChangedDiff, t.nEdits, t.bEnded ? "no undo file, as expected" : "an undo file or failed");
    std::printf("\n%-44s %6s   (aim: at most %.1f)\n", "ratio", "", AIM);
    // The comparison a press makes finds changes: that is the one that counts.
    const double changed = Median(t.compareChanged);
    std::printf("%-44s %6.2f   %s\n", "snapshot (Begin) / plain", begin / plain, Verdict(begin / plain));
    std::printf("%-44s %6.2f   %s\n", "comparison, nothing changed / plain", compare / plain, Verdict(compare / plain));
    std::printf("%-44s %6.2f   %s\n", "comparison after changes / plain", changed / plain, Verdict(changed / plain));
    std::printf("%-44s %6.2f   %s\n", "(snapshot + comparison after changes) / plain", (begin + changed) / plain,
                Verdict((begin + changed) / plain));
}


// The press on the prefix's own classes, once the tree is gone. False when
// it could not be timed.
bool PrintPressTable()
{
    const CString strProgID = FindCatalogueEntry(SERVER_FILE)->pszProgID;
    // Unregistering it at the end would take away a registration the prefix had.
    if (!ReadRegString(HKEY_CLASSES_ROOT, strProgID + "\\Clsid", "").IsEmpty()) {
        std::printf("\n%s is registered in this prefix already: the press is not timed\n", strProgID.GetString());
        return true;
    }
    const WalkCount prefix = WalkRoots();
    std::vector<double> plain, recorded;
    if (!TimePresses(plain, recorded)) {
        std::fprintf(stderr, "the sample server did not register, or its undo file was not written\n");
        return false;
    }
    const double a = Median(plain), b = Median(recorded);
    std::printf("\nRegister Selected, one sample server (%zu keys, %zu values in the covered roots), medians of %d:\n",
                prefix.nKeys, prefix.nValues, ROUNDS);
    std::printf("%-40s %9.1f ms\n", "without a recording", a * 1000);
    std::printf("%-40s %9.1f ms\n", "with a recording (Begin ... End)", b * 1000);
    std::printf("%-40s %9.1f ms (%.2f x)\n", "added by the undo", (b - a) * 1000, b / a);
    return true;
}
}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    bool bDone = false;
    {
        const CUndoFolderGuard undoFolder;
        s_pUndoFolder = &undoFolder;
        SetUnhandledExceptionFilter(&OnUnhandledException);
        SetConsoleCtrlHandler(&OnConsoleBreak, TRUE);
        TreeTimes times;
        {
            CBenchTree tree;
            times.before = WalkRoots();   // also warms the server's caches
            std::printf("Building %d classes under HKEY_CURRENT_USER\\Software\\Classes\\KelvaraUndoBench ...\n", CLASSES);
            bool bBuilt = false;
            const double dBuild = Timed([&] { bBuilt = BuildTree(); });
            if (bBuilt) {
                std::printf("built in %.1f s; waiting 3 s so that its keys are older than any snapshot\n", dBuild);
                std::fflush(stdout);
                Sleep(3000);
                TimeOnTree(times);
            } else {
                std::fprintf(stderr, "the bench tree could not be built\n");
            }
            const bool bDeleted = tree.Delete();
            if (!bDeleted) std::fprintf(stderr, "the bench tree could not be deleted\n");
            bDone = bBuilt && bDeleted;
            if (bBuilt) PrintTreeTable(times);
        }
        // Only on the prefix's own classes: a tree left behind would skew it.
        bDone = bDone && PrintPressTable();
        SetConsoleCtrlHandler(&OnConsoleBreak, FALSE);
        s_pUndoFolder = nullptr;
    }
    OleUninitialize();
    return bDone ? 0 : 1;
}
