#include "ProjectFile.h"
#include <cstdlib>
#include <sstream>

namespace {
std::wstring Widen(const std::string& text)
{
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Trim(const std::string& s)
{
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The next word of 'rest', which loses it.
std::string TakeWord(std::string& rest)
{
    rest = Trim(rest);
    const size_t end = rest.find_first_of(" \t");
    std::string word = rest.substr(0, end);
    rest = end == std::string::npos ? std::string() : Trim(rest.substr(end));
    return word;
}

bool ParseBool(const std::string& word, bool& value)
{
    if (word == "yes" || word == "1" || word == "true") { value = true; return true; }
    if (word == "no" || word == "0" || word == "false") { value = false; return true; }
    return false;
}

bool ParseNumber(const std::string& word, long long& value)
{
    if (word.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(word.c_str(), &end, 0);
    return end && *end == '\0';
}

// Features nest by indentation: a deeper line is a sub-feature of the last
// shallower one. The stack holds (indent, node) of the open ancestors.
struct TreeBuilder {
    ProjectData& project;
    std::vector<std::pair<size_t, int>> open;

    bool Add(size_t nIndent, const std::string& strName, std::string& strError)
    {
        if (project.nodes.size() >= MAX_FEATURES) { strError = "too many features"; return false; }
        // The limit counts characters: in UTF-8 one may take up to four bytes.
        std::wstring name = Widen(strName);
        if (name.size() > MAX_NAME_CHARS) { strError = "feature name too long"; return false; }
        while (!open.empty() && open.back().first >= nIndent) open.pop_back();
        const int index = static_cast<int>(project.nodes.size());
        project.nodes.push_back(FeatureNode{std::move(name), {}, false, ElementKind::Object});
        if (open.empty()) project.roots.push_back(index);
        else project.nodes[static_cast<size_t>(open.back().second)].children.push_back(index);
        open.emplace_back(nIndent, index);
        return true;
    }
};

std::vector<int> FindByName(const ProjectData& project, const std::wstring& name)
{
    std::vector<int> found;
    for (size_t i = 0; i < project.nodes.size(); ++i)
        if (project.nodes[i].strName == name) found.push_back(static_cast<int>(i));
    return found;
}

bool ParseFault(FaultKind kind, std::string rest, ProjectData& project, std::string& strError)
{
    Fault fault;
    fault.kind = kind;
    fault.strCall = TakeWord(rest);
    if (fault.strCall.empty()) { strError = "directive without a call"; return false; }
    long long number = 0;
    if (kind == FaultKind::Fail || kind == FaultKind::Slow) {
        if (!ParseNumber(TakeWord(rest), number)) { strError = "directive without a number"; return false; }
        if (kind == FaultKind::Fail) fault.hr = static_cast<HRESULT>(static_cast<unsigned long>(number));
        else fault.dwMilliseconds = static_cast<DWORD>(number < 0 ? 0 : number > MAX_SLOW_MS ? MAX_SLOW_MS : number);
    }
    if (kind == FaultKind::Error) {
        const std::string source = TakeWord(rest);
        fault.strSource = source == "-" ? std::wstring() : Widen(source);
        fault.strDescription = Widen(rest);
        rest.clear();
    }
    if (kind == FaultKind::Fail && fault.strCall == "ProjectOpen" && rest == "keep") {
        fault.bKeepResult = true;
        rest.clear();
    }
    if (!rest.empty()) {
        fault.bAnyFeature = false;
        fault.strFeature = Widen(rest);
    }
    project.faults.push_back(fault);
    return true;
}

bool ParseLine(const std::string& line, TreeBuilder& tree, ProjectData& project, std::string& strError)
{
    const size_t nIndent = line.find_first_not_of(" \t");
    if (nIndent == std::string::npos) return true;
    std::string rest = Trim(line);
    if (rest[0] == '#') return true;
    const std::string keyword = TakeWord(rest);
    long long number = 0;
    if (keyword == "feature") return tree.Add(nIndent, rest, strError);
    if (keyword == "type") {
        if (!ParseNumber(rest, number)) { strError = "bad type"; return false; }
        project.nType = static_cast<long>(number);
        return true;
    }
    if (keyword == "scriptbased") return ParseBool(rest, project.bScriptBased) || (strError = "bad scriptbased", false);
    if (keyword == "projectinfo") return ParseBool(rest, project.bAnswersProjectInfo) || (strError = "bad projectinfo", false);
    if (keyword == "fail") return ParseFault(FaultKind::Fail, rest, project, strError);
    if (keyword == "null") return ParseFault(FaultKind::Null, rest, project, strError);
    if (keyword == "slow") return ParseFault(FaultKind::Slow, rest, project, strError);
    if (keyword == "error") return ParseFault(FaultKind::Error, rest, project, strError);
    if (keyword == "element" || keyword == "loop") {
        std::string kind = keyword == "element" ? TakeWord(rest) : std::string();
        for (int index : FindByName(project, Widen(rest))) {
            FeatureNode& node = project.nodes[static_cast<size_t>(index)];
            if (keyword == "loop") node.bSubFeaturesAreProduct = true;
            else if (kind == "number") node.element = ElementKind::Number;
            else if (kind == "null-unknown") node.element = ElementKind::NullUnknown;
            else if (kind == "null-dispatch") node.element = ElementKind::NullDispatch;
            else { strError = "bad element kind"; return false; }
        }
        return true;
    }
    if (keyword == "chain") {
        // chain <count> <feature>: a single line of nested features under it.
        if (!ParseNumber(TakeWord(rest), number) || number < 0 ||
            static_cast<unsigned long long>(number) > MAX_FEATURES - project.nodes.size()) {
            strError = "bad chain";
            return false;
        }
        for (int index : FindByName(project, Widen(rest))) {
            int parent = index;
            for (long long level = 1; level <= number && project.nodes.size() < MAX_FEATURES; ++level) {
                const int child = static_cast<int>(project.nodes.size());
                project.nodes.push_back(FeatureNode{L"Level " + std::to_wstring(level), {}, false, ElementKind::Object});
                project.nodes[static_cast<size_t>(parent)].children.push_back(child);
                parent = child;
            }
        }
        return true;
    }
    strError = "unknown keyword " + keyword.substr(0, 40);
    return false;
}
}

const Fault* ProjectData::FindFault(FaultKind kind, const char* pszCall, const std::wstring* pFeature) const
{
    for (const Fault& fault : faults) {
        if (fault.kind != kind || fault.strCall != pszCall) continue;
        if (fault.bAnyFeature || (pFeature && *pFeature == fault.strFeature)) return &fault;
    }
    return nullptr;
}

bool ParseProject(const std::string& text, ProjectData& project, std::string& strError)
{
    project = ProjectData();
    TreeBuilder tree{project, {}};
    // Editors that save UTF-8 often start the file with a byte-order mark.
    const char BOM[] = "\xEF\xBB\xBF";
    std::istringstream lines(text.compare(0, 3, BOM) == 0 ? text.substr(3) : text);
    std::string line;
    int nLine = 0;
    while (std::getline(lines, line)) {
        ++nLine;
        if (!ParseLine(line, tree, project, strError)) {
            strError = "line " + std::to_string(nLine) + ": " + strError;
            return false;
        }
    }
    return true;
}

HRESULT LoadProject(const wchar_t* pszPath, ProjectData& project)
{
    if (!pszPath || !*pszPath) return STG_E_FILENOTFOUND;
    HANDLE hFile = CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return STG_E_FILENOTFOUND;
    LARGE_INTEGER size = {};
    std::string text;
    bool bRead = GetFileSizeEx(hFile, &size) && size.QuadPart >= 0 &&
                 static_cast<unsigned long long>(size.QuadPart) <= MAX_PROJECT_FILE_BYTES;
    if (bRead) {
        text.resize(static_cast<size_t>(size.QuadPart));
        DWORD nRead = 0;
        bRead = text.empty() || (ReadFile(hFile, &text[0], static_cast<DWORD>(text.size()), &nRead, nullptr) && nRead == text.size());
    }
    CloseHandle(hFile);
    std::string strError;
    if (!bRead || !ParseProject(text, project, strError)) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    return S_OK;
}
