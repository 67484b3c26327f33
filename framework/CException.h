#pragma once
#include "framework/CObject.h"
#include <windows.h>

// Base of the framework's exceptions. They are thrown as pointers to heap
// objects; whoever catches one owns it and ends its life with Delete.
class CException : public CObject {
public:
    CException() = default;
    CException(const CException&) = delete;
    CException& operator=(const CException&) = delete;

    // Copies the exception's text into the buffer, cut to fit and terminated.
    virtual BOOL GetErrorMessage(LPSTR pszError, UINT nMaxError, PUINT pnHelpContext = nullptr);
    // Shows the text in a message box captioned with the program's name.
    virtual int ReportError(UINT nType = MB_OK);
    void Delete() { delete this; }
};
