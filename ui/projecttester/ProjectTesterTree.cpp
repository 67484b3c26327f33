#include "ui/projecttester/ProjectTesterTree.h"
#include "ui/projecttester/ProjectTester.h"
#include "ui/StopPrompt.h"
#include "res/resource.h"

namespace {
// Redraw stays off while the tree is emptied and filled, and comes back on
// with one repaint on every way out, a CComException included. Under Wine a
// node inserted under a shown, expanded parent repaints the control at once.
class CRedrawOff {
public:
    explicit CRedrawOff(const CTreeCtrl& tree) : m_tree(tree) { m_tree.SetRedraw(FALSE); }
    ~CRedrawOff()
    {
        m_tree.SetRedraw(TRUE);
        m_tree.Invalidate();
    }
    CRedrawOff(const CRedrawOff&) = delete;
    CRedrawOff& operator=(const CRedrawOff&) = delete;
private:
    const CTreeCtrl& m_tree;
};
}

void CProjectTesterTree::InitTree(CProjectTester* pOwner)
{
    m_pOwner = pOwner;
    if (m_bImageListCreated) return;
    m_bImageListCreated = true;
    const int nIcon = ScaleByDpi(16);
    m_imageList.Create(nIcon, nIcon, ILC_COLOR4 | ILC_MASK, 2, 0);
    m_imageList.AddResourceIcon(IDI_PROJECT);
    m_imageList.AddResourceIcon(IDI_FEATURE);
    SetImageList(m_imageList.GetSafeHandle(), TVSIL_NORMAL);
}

void CProjectTesterTree::PopulateTree(IUnknown* pProject)
{
    const CRedrawOff redrawOff(*this);
    CProjectRunSink::PopulateTree(pProject);
}

void CProjectTesterTree::AddError(const CString& strText)
{
    m_pOwner->AddError(strText);
}

void CProjectTesterTree::DeleteAllNodes()
{
    DeleteAllItems();
}

HTREEITEM CProjectTesterTree::ItemOf(NodeId node)
{
    return node == ROOT ? TVI_ROOT : reinterpret_cast<HTREEITEM>(node);
}

void CProjectTesterTree::ExpandNode(NodeId node)
{
    Expand(ItemOf(node), TVE_EXPAND);
}

void CProjectTesterTree::CollapseNode(NodeId node)
{
    Expand(ItemOf(node), TVE_COLLAPSE);
}

// Feature nodes are inserted already expanded, because under Wine every call
// that names a node looks its handle up by a scan of the nodes before it; the
// project node is expanded once its walk is done.
CProjectRunSink::NodeId CProjectTesterTree::AddNode(NodeId parent, const CString& text)
{
    const bool bProjectNode = parent == ROOT;
    const int nImage = bProjectNode ? 0 : 1;
    return reinterpret_cast<NodeId>(
        InsertItem(text, nImage, nImage, bProjectNode ? 0 : TVIS_EXPANDED, TVIS_EXPANDED, 0, ItemOf(parent), TVI_FIRST));
}

bool CProjectTesterTree::IsStopRequested()
{
    CStopPrompt* pPrompt = CStopPrompt::Current();
    return pPrompt && pPrompt->IsStopRequested();
}
