#include "framework/CInputDiscard.h"

CInputDiscard::~CInputDiscard()
{
    // Client and non-client mouse messages, keys and characters; posted ones
    // included, since PeekMessage's range covers both queues.
    static const UINT ranges[][2] = {
        {WM_KEYFIRST, WM_KEYLAST},
        {WM_MOUSEFIRST, WM_MOUSELAST},
        {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
    };
    // Bounded: a queue that kept refilling must not keep the command alive.
    constexpr int MAX_DROPPED = 4096;
    MSG msg;
    for (const auto& range : ranges)
        for (int n = 0; n < MAX_DROPPED && PeekMessageA(&msg, nullptr, range[0], range[1], PM_REMOVE | PM_NOYIELD); ++n) {
        }
}
