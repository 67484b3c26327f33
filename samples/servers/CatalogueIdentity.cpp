// The identity of the generic servers, which take their ProgID from the
// utility's own catalogue by the file name they are installed under.
#include "CatalogueIdentity.h"
#include "engine/components/Catalogue.h"

namespace {
std::string FileNameOf(const std::string& strPath)
{
    const size_t nSlash = strPath.find_last_of("\\/");
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

} // namespace

ServerIdentity CatalogueIdentity(const std::string& strPath, const char* pszDefaultProgID,
                                 const char* pszServerKey)
{
    const std::string strFileName = FileNameOf(strPath);
    const CatalogueEntry* pEntry = FindCatalogueEntry(strFileName.c_str());
    const std::string strProgID = pEntry ? pEntry->pszProgID : pszDefaultProgID;
    return {strPath, strProgID, DeriveClsid(strProgID.empty() ? strFileName : strProgID), pszServerKey};
}

