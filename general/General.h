#pragma once
#include "framework/CPropertyPage.h"

class CSupportSheet;

// The first page: the operating system and Internet Explorer version, read-only.
class CGeneral : public CPropertyPage {
public:
    CGeneral();
    ~CGeneral() override = default;

protected:
    BOOL OnInitDialog() override;

private:
    CSupportSheet* m_pSheet = nullptr;
};
