#include "comtester/ClassRegistration.h"
#include "framework/CHandle.h"
#include "framework/CRegKey.h"
#include <vector>

namespace {
constexpr DWORD MAX_VALUE_BYTES = 64 * 1024;

// A string value (REG_SZ or REG_EXPAND_SZ) read whole, up to its first NUL;
// empty for any other type. bExpand is set for REG_EXPAND_SZ.
CString ReadText(HKEY hRoot, const CString& strKey, const char* pszValue, REGSAM samView, bool* pbExpand = nullptr)
{
    const auto key = CRegKey::Open(hRoot, strKey, KEY_QUERY_VALUE | samView);
    if (!key) return CString();
    DWORD dwType = 0, nBytes = 0;
    if (RegQueryValueExA(key->Get(), pszValue, nullptr, &dwType, nullptr, &nBytes) != ERROR_SUCCESS ||
        (dwType != REG_SZ && dwType != REG_EXPAND_SZ) || nBytes > MAX_VALUE_BYTES)
        return CString();
    std::vector<char> buffer(nBytes + 1, '\0');
    if (RegQueryValueExA(key->Get(), pszValue, nullptr, &dwType, reinterpret_cast<BYTE*>(buffer.data()), &nBytes) != ERROR_SUCCESS)
        return CString();
    if (pbExpand) *pbExpand = dwType == REG_EXPAND_SZ;
    buffer[nBytes < buffer.size() ? nBytes : buffer.size() - 1] = '\0';
    return CString(buffer.data());
}

CString Expand(const CString& strText)
{
    const DWORD nLength = ExpandEnvironmentStringsA(strText, nullptr, 0);
    if (nLength == 0) return strText;
    std::string strExpanded(nLength, '\0');
    const DWORD nDone = ExpandEnvironmentStringsA(strText, strExpanded.data(), nLength);
    if (nDone == 0 || nDone > nLength) return strText;
    strExpanded.resize(nDone - 1);
    return CString(strExpanded);
}

// The file a server value names: quoted, or, for a local server's command
// line with switches, up to ".exe"; else the whole value.
CString ServerFileOf(const CString& strValue, bool bCommandLine)
{
    std::string str = strValue.Str();
    while (!str.empty() && (str.front() == ' ' || str.front() == '\t')) str.erase(0, 1);
    if (!str.empty() && str.front() == '"') {
        const size_t nEnd = str.find('"', 1);
        return CString(str.substr(1, nEnd == std::string::npos ? std::string::npos : nEnd - 1));
    }
    std::string strLower = str;
    for (char& ch : strLower) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    const size_t nExe = bCommandLine ? strLower.find(".exe") : std::string::npos;
    if (nExe != std::string::npos) return CString(str.substr(0, nExe + 4));
    while (!str.empty() && (str.back() == ' ' || str.back() == '\t')) str.pop_back();
    return CString(str);
}

ClassServerView ReadView(const CString& strClsid, REGSAM samView, bool bPreferLocalServer)
{
    ClassServerView view;
    if (strClsid.IsEmpty()) return view;
    const CString strClassKey = "CLSID\\" + strClsid;
    view.bClassKey = CRegKey::Open(HKEY_CLASSES_ROOT, strClassKey, KEY_QUERY_VALUE | samView).has_value();
    if (!view.bClassKey) return view;
    const char* const order[2] = {bPreferLocalServer ? "LocalServer32" : "InprocServer32",
                                  bPreferLocalServer ? "InprocServer32" : "LocalServer32"};
    for (const char* pszServerKey : order) {
        const CString strKey = strClassKey + "\\" + pszServerKey;
        if (!CRegKey::Open(HKEY_CLASSES_ROOT, strKey, KEY_QUERY_VALUE | samView)) continue;
        bool bExpand = false;
        view.strServerKey = pszServerKey;
        view.strServerValue = ReadText(HKEY_CLASSES_ROOT, strKey, nullptr, samView, &bExpand);
        view.strServerPath = ServerFileOf(bExpand || strchr(view.strServerValue, '%') ? Expand(view.strServerValue)
                                                                                       : view.strServerValue,
                                          view.strServerKey == "LocalServer32");
        view.strThreadingModel = ReadText(HKEY_CLASSES_ROOT, strKey, "ThreadingModel", samView);
        break;
    }
    return view;
}

CString LongFullPath(const CString& strPath)
{
    char szFull[MAX_PATH] = "";
    const DWORD nFull = GetFullPathNameA(strPath, MAX_PATH, szFull, nullptr);
    if (nFull == 0 || nFull >= MAX_PATH) return strPath;
    char szLong[MAX_PATH] = "";
    const DWORD nLong = GetLongPathNameA(szFull, szLong, MAX_PATH);
    return nLong > 0 && nLong < MAX_PATH ? CString(szLong) : CString(szFull);
}

bool FileIdentity(const CString& strPath, BY_HANDLE_FILE_INFORMATION& info)
{
    const CHandle file(CreateFileA(strPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.IsValid() && GetFileInformationByHandle(file.Get(), &info);
}
} // namespace

bool IsSixtyFourBitSystem()
{
    if (sizeof(void*) == 8) return true;
    BOOL bWow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &bWow64) && bWow64;
}

bool IsSameFile(const CString& strA, const CString& strB)
{
    if (strA.IsEmpty() || strB.IsEmpty()) return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    if (FileIdentity(strA, a) && FileIdentity(strB, b))
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
               a.nFileIndexLow == b.nFileIndexLow;
    return LongFullPath(strA).CompareNoCase(LongFullPath(strB)) == 0;
}

ClassRegistration ReadClassRegistration(const CString& strProgID, bool bPreferLocalServer)
{
    ClassRegistration reg;
    if (strProgID.IsEmpty()) return reg;
    const CString strKey = "Software\\Classes\\" + strProgID + "\\Clsid";
    reg.strUserClsid = ReadText(HKEY_CURRENT_USER, strKey, nullptr, 0);
    reg.strMachineClsid = ReadText(HKEY_LOCAL_MACHINE, strKey, nullptr, 0);
    reg.strClsid = reg.strUserClsid.IsEmpty() ? reg.strMachineClsid : reg.strUserClsid;
    reg.bUserOverrides = !reg.strUserClsid.IsEmpty() && !reg.strMachineClsid.IsEmpty() &&
                         reg.strUserClsid.CompareNoCase(reg.strMachineClsid) != 0;
    reg.bOtherViewExists = IsSixtyFourBitSystem();
    reg.thisView = ReadView(reg.strClsid, 0, bPreferLocalServer);
    if (reg.bUserOverrides) reg.machineView = ReadView(reg.strMachineClsid, 0, bPreferLocalServer);
    if (reg.bOtherViewExists)
        reg.otherView = ReadView(reg.strClsid, sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY, bPreferLocalServer);
    return reg;
}
