#pragma once
#include "framework/CPropertyPage.h"

class CSupportSheet;

// The COM tester page: the catalogue of the authoring tool's COM servers.
class CComTester : public CPropertyPage {
public:
    CComTester();
    ~CComTester() override = default;

protected:
    BOOL OnInitDialog() override;

private:
    CSupportSheet* m_pSheet = nullptr;
};
