#pragma once
#include "framework/CPropertyPage.h"

class CSupportSheet;

// The Project tester page: opens a project through the authoring tool's
// automation server and lists every failed call.
class CProjectTester : public CPropertyPage {
public:
    CProjectTester();
    ~CProjectTester() override = default;

protected:
    BOOL OnInitDialog() override;

private:
    CSupportSheet* m_pSheet = nullptr;
};
