#pragma once
#include "framework/CString.h"
#include <exception>
#include <objbase.h>

// What is known about one failed COM call: its result, and the thread's
// error object at the time (description, source, interface and class
// identifiers), or the system's text for the result when there was none.
class CComErrorInfo : public std::exception {
public:
    explicit CComErrorInfo(HRESULT hr);
    ~CComErrorInfo() override = default;
    CComErrorInfo(const CComErrorInfo&) = default;
    CComErrorInfo& operator=(const CComErrorInfo&) = default;

    const char* what() const noexcept override { return m_strDescription.GetString(); }

    // Takes (and so clears) the thread's error object, or falls back to the
    // system's message text for the result.
    void Fill();

    HRESULT m_hr;
    IID m_iid = GUID_NULL;
    CLSID m_clsid = GUID_NULL;
    CString m_strDescription;
    CString m_strSource;

private:
    void FillFromErrorObject(IErrorInfo& errorInfo);
    void FillFromSystem();
};
