#pragma once
#include "framework/CPropertyPage.h"

// The operating-system line of the page: "name, version, service pack"; it
// ends in ", " when the system reports no service pack.
CString FormatOperatingSystemLine(const CString& strName, const CString& strVersion, const CString& strServicePack);

// The first page: the operating system and Internet Explorer version, read-only.
class CGeneral : public CPropertyPage {
public:
    CGeneral();
    ~CGeneral() override = default;

protected:
    BOOL OnInitDialog() override;
};
