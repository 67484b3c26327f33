// An exception that escapes a command handler is reported in a stop-icon
// message box captioned with the program's name, and the window goes on.
#include "common/TestSupport.h"
#include "framework/CException.h"
#include "framework/CPropertyPage.h"
#include "framework/CPropertySheet.h"
#include "framework/CWinApp.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <stdexcept>

namespace {
constexpr int ID_THROW_FRAMEWORK = 5001;
constexpr int ID_THROW_STANDARD = 5002;
constexpr int ID_COUNT = 5003;

class CTextException : public CException {
public:
    explicit CTextException(const char* pszText) : m_strText(pszText) {}
    BOOL GetErrorMessage(LPSTR pszError, UINT nMaxError, PUINT) override
    {
        lstrcpynA(pszError, m_strText, static_cast<int>(nMaxError));
        return TRUE;
    }
private:
    CString m_strText;
};

class CThrowingPage : public CPropertyPage {
public:
    CThrowingPage() : CPropertyPage(IDD_GENERAL) {}
    int m_nCounted = 0;

protected:
    BOOL OnCommand(int nID, int) override
    {
        switch (nID) {
        case ID_THROW_FRAMEWORK: throw new CTextException("The server went away.");
        case ID_THROW_STANDARD:  throw std::runtime_error("out of range");
        case ID_COUNT:           ++m_nCounted; return TRUE;
        default:                 return FALSE;
        }
    }
};

void Command(HWND hPage, int id)
{
    SendMessageA(hPage, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}
}

TEST(ExceptionReportTest, ReportsInAStopBoxCaptionedWithTheProgramNameAndGoesOn)
{
    CThrowingPage page;
    CPropertySheet sheet("Exceptions", nullptr, 0);
    sheet.AddPage(&page);

    RunSheetModal(sheet, [&](HWND hSheet) {
        HWND hPage = PropSheet_GetCurrentPageHwnd(hSheet);
        const auto boxes = CloseMessageBoxesDuring([&] { Command(hPage, ID_THROW_FRAMEWORK); });
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ("app_tests", boxes[0].caption);
        EXPECT_EQ(CWinApp::ExecutableBaseName().Str(), boxes[0].caption);
        EXPECT_EQ("The server went away.", boxes[0].text);
        EXPECT_TRUE(boxes[0].stopIcon);

        const auto standard = CloseMessageBoxesDuring([&] { Command(hPage, ID_THROW_STANDARD); });
        ASSERT_EQ(1u, standard.size());
        EXPECT_EQ("out of range", standard[0].text);

        // The sheet is still there and its page still answers commands.
        EXPECT_TRUE(IsWindow(hSheet));
        EXPECT_EQ(hPage, PropSheet_GetCurrentPageHwnd(hSheet));
        Command(hPage, ID_COUNT);
        EXPECT_EQ(1, page.m_nCounted);
    });
}
