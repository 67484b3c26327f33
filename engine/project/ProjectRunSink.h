#pragma once
#include "framework/CString.h"
#include <cstdint>
#include <unknwn.h>

// Where a project run puts what it finds: failure lines, and the nodes of the
// project's structure. The Project tester's tree shows them; the unattended
// report counts them. A node is known by the id the sink gives it; the run
// only passes ids back.
class CProjectRunSink {
public:
    using NodeId = std::uintptr_t;
    // The parent of the project node.
    static constexpr NodeId ROOT = 0;

    virtual ~CProjectRunSink() = default;

    virtual void AddError(const CString& strText) = 0;
    virtual void DeleteAllNodes() = 0;
    // Adds a node as the first child of its parent and gives its id. A
    // feature node starts expanded, the project node does not.
    virtual NodeId AddNode(NodeId parent, const CString& strText) = 0;
    virtual void ExpandNode(NodeId node) = 0;
    // Takes a node's expansion back: a level of features that did not reach
    // its end leaves its parent as it was.
    virtual void CollapseNode(NodeId node) = 0;

    // Replaces the sink's nodes by the opened project's (a null project only
    // empties them) by one walk of it. A sink that shows the nodes may wrap
    // the walk, as a tree does with its redraw. A failed enumeration throws
    // CComException.
    virtual void PopulateTree(IUnknown* pProject);

    // Adds the line and gives true when hr is a failure code. Once a stop
    // was asked for, a failure is the stop's doing (a cancelled call): no
    // line, and the run counts as stopped.
    bool ReportIfFailed(HRESULT hr, const CString& strText);

    // True once the user asked to stop the test; the walk then ends at its
    // next step. A sink that offers no stop never asks.
    virtual bool IsStopRequested() { return false; }
    // The run ended early at the user's request.
    bool WasStopped() const { return m_bStopped; }
    void NoteStopped() { m_bStopped = true; }

private:
    bool m_bStopped = false;
};
