#pragma once
// The sample server's project: read from a .kvp file (see README.md), with
// the fault directives that tell the server which calls to spoil.
#include <windows.h>
#include <string>
#include <vector>

// How an enumeration delivers a feature.
enum class ElementKind { Object, Number, NullUnknown, NullDispatch };

struct FeatureNode {
    std::wstring strName;
    std::vector<int> children;          // indices into ProjectData::nodes
    bool bSubFeaturesAreProduct = false;  // "loop": its sub-features are the product's
    ElementKind element = ElementKind::Object;
};

enum class FaultKind { Fail, Null, Slow, Error };

// One directive aimed at a call ("get_Name"), optionally only for the
// feature of that name (or, for get__NewEnum, the collection of that feature).
struct Fault {
    FaultKind kind = FaultKind::Fail;
    std::string strCall;
    std::wstring strFeature;
    bool bAnyFeature = true;
    HRESULT hr = E_FAIL;
    DWORD dwMilliseconds = 0;
    bool bKeepResult = false;           // "fail ProjectOpen ... keep": the project still comes back
    std::wstring strSource, strDescription;
};

struct ProjectData {
    long nType = 1;
    bool bScriptBased = true;
    bool bAnswersProjectInfo = true;
    std::vector<FeatureNode> nodes;
    std::vector<int> roots;
    std::vector<Fault> faults;

    // The first directive of that kind for the call and feature, or null.
    // A null feature name matches only directives without a feature.
    const Fault* FindFault(FaultKind kind, const char* pszCall, const std::wstring* pFeature) const;
};

// Limits that keep a hostile file from exhausting the server.
constexpr size_t MAX_PROJECT_FILE_BYTES = 64u * 1024 * 1024;
constexpr size_t MAX_FEATURES = 2000000;
constexpr size_t MAX_NAME_CHARS = 1024;
constexpr DWORD MAX_SLOW_MS = 60000;

// Parses the text of a .kvp file; false (with a reason) when it is not one.
bool ParseProject(const std::string& text, ProjectData& project, std::string& strError);
// Reads and parses a file; an HRESULT tells a missing file from a bad one.
HRESULT LoadProject(const wchar_t* pszPath, ProjectData& project);
