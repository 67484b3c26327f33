#pragma once
#include "engine/project/ProjectRunSink.h"
#include <unknwn.h>

struct IFeatures;

// One walk over an opened project: its type, the feature tree of its active
// product, every failed call as a line, and the project closed at the end.
// A failed enumeration throws CComException.
class CProjectWalk {
public:
    // Deepest feature level that is walked into; a deeper one (a feature
    // graph that loops, or absurd nesting) is left out and reported once.
    static constexpr int MAX_FEATURE_DEPTH = 256;
    // Most feature nodes one walk shows. A graph that loops with more than one
    // way back grows without end well within the depth limit; this ends it.
    static constexpr int MAX_FEATURE_NODES = 150000;

    explicit CProjectWalk(CProjectRunSink& sink) : m_sink(sink) {}
    // Replaces the sink's nodes by the project's; a null project only
    // empties them.
    void PopulateTree(IUnknown* pProject);

private:
    void AddFeaturesToTree(CProjectRunSink::NodeId parent, IFeatures* pFeatures, int nDepth);
    // ReportIfFailed, also counting a successful call that gave no object as
    // that call's failure.
    bool ReportIfFailedOrNull(HRESULT hr, const void* pResult, const char* pszText);

    CProjectRunSink& m_sink;
    bool m_bDepthLimitReported = false;
    int m_nFeatureNodes = 0;
    bool m_bNodeLimitReported = false;
};
