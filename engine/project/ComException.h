#pragma once
#include "framework/CException.h"
#include "engine/project/ComErrorInfo.h"

// The framework-facing base of COM failure exceptions; carries nothing itself.
template <class T>
class _CComException : public CException {
public:
    ~_CComException() override = default;
};

// A failed COM call, thrown as a pointer to a heap object by ComCheck and
// reported by whatever reports exceptions that escape a message handler: its
// message is the error record's description.
class CComException : public _CComException<int> {
public:
    explicit CComException(const CComErrorInfo& info) : m_info(info) {}
    ~CComException() override = default;

    // Copies the description, cut to fit and always terminated; the help
    // context is left as it is.
    BOOL GetErrorMessage(LPSTR pszError, UINT nMaxError, PUINT pnHelpContext = nullptr) override;

    const CComErrorInfo& GetErrorInfo() const { return m_info; }

private:
    CComErrorInfo m_info;
};
