#include "engine/components/Sibling.h"
#include "system/Paths.h"
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {
// The program's own folder, with its trailing backslash.
CString OwnFolder()
{
    const CString strModule = ModuleFilePath(nullptr);
    const int nSlash = strModule.ReverseFind('\\');
    return nSlash < 0 ? CString() : strModule.Left(nSlash + 1);
}

// A text as a JSON string. Both programs share their code page, so the bytes
// go across as they are; only quotes, backslashes and controls are escaped.
std::string Quoted(const CString& strText)
{
    std::string out = "\"";
    for (const char ch : strText.Str()) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (static_cast<unsigned char>(ch) < 0x20) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof szEscape, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(ch)));
            out += szEscape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// The members of one flat JSON object, as their texts (strings unescaped);
// false when the line is no such object.
bool ReadFlatObject(const std::string& line, std::map<std::string, std::string>& members)
{
    size_t i = line.find('{');
    if (i == std::string::npos) return false;
    const auto skipSpace = [&] { while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i; };
    const auto readString = [&](std::string& out) {
        if (i >= line.size() || line[i] != '"') return false;
        for (++i; i < line.size(); ++i) {
            if (line[i] == '"') {
                ++i;
                return true;
            }
            if (line[i] != '\\') {
                out += line[i];
                continue;
            }
            if (++i >= line.size()) return false;
            if (line[i] == 'u') {
                if (i + 4 >= line.size()) return false;
                out += static_cast<char>(std::strtoul(line.substr(i + 1, 4).c_str(), nullptr, 16));
                i += 4;
            } else {
                out += line[i];
            }
        }
        return false;
    };
    ++i;
    for (;;) {
        skipSpace();
        if (i < line.size() && line[i] == '}') return true;
        std::string key, value;
        if (!readString(key)) return false;
        skipSpace();
        if (i >= line.size() || line[i++] != ':') return false;
        skipSpace();
        if (i < line.size() && line[i] == '"') {
            if (!readString(value)) return false;
        } else {
            while (i < line.size() && line[i] != ',' && line[i] != '}' && line[i] != ' ') value += line[i++];
            if (value.empty()) return false;
        }
        members[key] = value;
        skipSpace();
        if (i < line.size() && line[i] == ',') ++i;
        else if (i >= line.size() || line[i] != '}') return false;
    }
}

unsigned long Number(const std::map<std::string, std::string>& members, const char* pszKey)
{
    const auto it = members.find(pszKey);
    return it == members.end() ? 0 : std::strtoul(it->second.c_str(), nullptr, 0);
}

bool Flag(const std::map<std::string, std::string>& members, const char* pszKey)
{
    const auto it = members.find(pszKey);
    return it != members.end() && it->second == "true";
}
}

CString OwnProgramFileName()
{
    return sizeof(void*) == 8 ? "ForgeSupport64.exe" : "ForgeSupport.exe";
}

CString SiblingProgramFileName()
{
    return sizeof(void*) == 8 ? "ForgeSupport.exe" : "ForgeSupport64.exe";
}

CString SiblingProgramPath(const CString& strFolder)
{
    CString strBase = strFolder.IsEmpty() ? OwnFolder() : strFolder;
    if (!strBase.IsEmpty() && !strBase.EndsWith('\\')) strBase += '\\';
    return strBase + SiblingProgramFileName();
}

CString HostProgramPath()
{
    const CString strOwn = OwnFolder() + OwnProgramFileName();
    const DWORD dwAttributes = GetFileAttributesW(strOwn.ToWide().c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? strOwn
                                                                                                  : ModuleFilePath(nullptr);
}

std::string FormatRegistrationLine(const RegistrationResult& result, bool bResult)
{
    char szNumbers[256];
    std::snprintf(szNumbers, sizeof szNumbers,
                  "\"register\": %s, \"stage\": %d, \"hr\": \"0x%08lX\", \"faultCode\": \"0x%08lX\", \"exitCode\": %lu, "
                  "\"milliseconds\": %.1f, \"stopped\": %s, \"timedOut\": %s, \"result\": %s",
                  result.bRegister ? "true" : "false", static_cast<int>(result.nStage), static_cast<unsigned long>(result.hr),
                  static_cast<unsigned long>(result.dwFaultCode), static_cast<unsigned long>(result.dwExitCode),
                  result.dMilliseconds, result.bStopped ? "true" : "false", result.bTimedOut ? "true" : "false",
                  bResult ? "true" : "false");
    return "{" + std::string(szNumbers) + ", \"faultModule\": " + Quoted(result.strFaultModule) + "}";
}

bool ParseRegistrationLine(const std::string& line, RegistrationResult& result, bool& bResult)
{
    std::map<std::string, std::string> members;
    if (!ReadFlatObject(line, members) || !members.count("stage") || !members.count("hr") || !members.count("result"))
        return false;
    const unsigned long nStage = Number(members, "stage");
    if (nStage > STAGE_ENDED) return false;
    result.bRegister = Flag(members, "register");
    result.nStage = static_cast<RegistrationStage>(nStage);
    result.hr = static_cast<HRESULT>(Number(members, "hr"));
    result.dwFaultCode = Number(members, "faultCode");
    result.strFaultModule = members["faultModule"];
    result.dwExitCode = Number(members, "exitCode");
    result.bStopped = Flag(members, "stopped");
    result.bTimedOut = Flag(members, "timedOut");
    bResult = Flag(members, "result");
    return true;
}
