#include "engine/diagnosis/ClassRegistration.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "framework/CRegKey.h"

namespace {
// A server value's text: either string type, noting whether it is to be
// expanded; empty for any other type.
CString ReadServerText(const CString& strKey, const char* pszValue, REGSAM samView, bool* pbExpand = nullptr)
{
    const RegValue value = ReadRegValue(HKEY_CLASSES_ROOT, strKey, pszValue, samView);
    if (value.dwType != REG_SZ && value.dwType != REG_EXPAND_SZ) return CString();
    if (pbExpand) *pbExpand = value.dwType == REG_EXPAND_SZ;
    return value.strText;
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
        view.strServerValue = ReadServerText(strKey, nullptr, samView, &bExpand);
        view.strServerPath = ServerFileOf(bExpand || strchr(view.strServerValue, '%') ? Expand(view.strServerValue)
                                                                                       : view.strServerValue,
                                          view.strServerKey == "LocalServer32");
        view.strThreadingModel = ReadServerText(strKey, "ThreadingModel", samView);
        break;
    }
    return view;
}

} // namespace

RegValue ReadProgIDClsid(HKEY hRoot, const CString& strProgIDKey, int nViewBits)
{
    const CString strKey = strProgIDKey + "\\Clsid";
    const RegValue inView = ReadRegValue(hRoot, strKey, nullptr, ViewAccess(nViewBits));
    if (inView.bExists || nViewBits == OwnViewBits()) return inView;
    return ReadRegValue(hRoot, strKey, nullptr);
}

ClassRegistration ReadClassRegistration(const CString& strProgID, bool bPreferLocalServer, int nViewBits)
{
    ClassRegistration reg;
    reg.nViewBits = nViewBits == 64 && IsSixtyFourBitSystem() ? 64 : nViewBits == 32 ? 32 : OwnViewBits();
    if (strProgID.IsEmpty()) return reg;
    const REGSAM samRow = ViewAccess(reg.nViewBits);
    const REGSAM samOther = ViewAccess(reg.nViewBits == 64 ? 32 : 64);
    const CString strKey = "Software\\Classes\\" + strProgID;
    // Only a string value registers a ProgID, as the Registered column counts
    // it: a Clsid of any other type is named, and the ProgID is not registered.
    const RegValue user = ReadProgIDClsid(HKEY_CURRENT_USER, strKey, reg.nViewBits);
    const RegValue machine = ReadProgIDClsid(HKEY_LOCAL_MACHINE, strKey, reg.nViewBits);
    reg.strUserClsid = user.dwType == REG_SZ ? user.strText : CString();
    reg.strMachineClsid = machine.dwType == REG_SZ ? machine.strText : CString();
    reg.strClsid = reg.strUserClsid.IsEmpty() ? reg.strMachineClsid : reg.strUserClsid;
    const RegValue& effective = user.bExists ? user : machine;
    if (effective.bExists && effective.dwType != REG_SZ) {
        reg.dwClsidWrongType = effective.dwType;
        reg.bClsidWrongType = true;
        reg.strClsid.Empty();
    }
    reg.bUserOverrides = !reg.strUserClsid.IsEmpty() && !reg.strMachineClsid.IsEmpty() &&
                         reg.strUserClsid.CompareNoCase(reg.strMachineClsid) != 0;
    reg.bOtherViewExists = IsSixtyFourBitSystem();
    reg.rowView = ReadView(reg.strClsid, samRow, bPreferLocalServer);
    if (reg.bUserOverrides) reg.machineView = ReadView(reg.strMachineClsid, samRow, bPreferLocalServer);
    if (reg.bOtherViewExists) reg.otherView = ReadView(reg.strClsid, samOther, bPreferLocalServer);
    return reg;
}
