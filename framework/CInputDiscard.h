#pragma once
#include <windows.h>

// For the life of the object, keyboard and mouse input to the thread's windows
// is not acted on: whatever the user typed or clicked while a command was
// busy is dropped when it ends, so a click made meanwhile cannot replay as a
// second command.
class CInputDiscard {
public:
    CInputDiscard() = default;
    ~CInputDiscard();
    CInputDiscard(const CInputDiscard&) = delete;
    CInputDiscard& operator=(const CInputDiscard&) = delete;
};
