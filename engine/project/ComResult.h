#pragma once
#include <objbase.h>

// Returns for a success code (S_FALSE included); for a failure code throws a
// new CComException describing it and the thread's error object.
void ComCheck(HRESULT hr);

// Holds the result of a checked COM call: assigning a result checks it.
class CComResult {
public:
    CComResult& operator=(HRESULT hr) { m_hr = hr; ComCheck(hr); return *this; }
    HRESULT m_hr = S_OK;
};
