// Servers that crash, in their entry points or in DllMain on process attach:
//   SAMPLE_FAULT_ENTRY, SAMPLE_FAULT_MAIN        an access violation
//   SAMPLE_OVERFLOW_ENTRY, SAMPLE_OVERFLOW_MAIN  a stack overflow
//   SAMPLE_THROW_ENTRY                           an unhandled C++ exception
// They register nothing.
#include <windows.h>

namespace {

// Through a volatile pointer, so that the compiler cannot see the null and
// replace the write by a trap instruction: the fault is a real access violation.
[[maybe_unused]] void WriteThroughNull()
{
    volatile int* volatile pTarget = nullptr;
    *pTarget = 0x4B46;
}

// Never true: it only keeps the compiler from proving the recursion endless.
volatile bool g_bStop = false;

// Each level keeps a page of its own on the stack, until the stack runs out.
[[maybe_unused]] int Recurse(int nDepth)
{
    volatile char page[4096];
    page[0] = static_cast<char>(nDepth);
    if (g_bStop) return page[0];
    return Recurse(nDepth + 1) + page[0];
}

// An exception as a Visual C++ server's "throw" raises it: code 0xE06D7363
// ("msc"), its three parameters pointing at the thrown object and its type.
[[maybe_unused]] void ThrowLikeVisualCpp()
{
    static int s_nThrown = 0x4B46;
    const ULONG_PTR args[3] = {0x19930520, reinterpret_cast<ULONG_PTR>(&s_nThrown), 0};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, args);
}

#if defined(SAMPLE_FAULT_ENTRY) || defined(SAMPLE_FAULT_MAIN)
void Fault() { WriteThroughNull(); }
#elif defined(SAMPLE_OVERFLOW_ENTRY) || defined(SAMPLE_OVERFLOW_MAIN)
void Fault() { Recurse(0); }
#else
void Fault() { ThrowLikeVisualCpp(); }
#endif

#if defined(SAMPLE_FAULT_MAIN) || defined(SAMPLE_OVERFLOW_MAIN)
const bool FAULT_IN_MAIN = true;
#else
const bool FAULT_IN_MAIN = false;
#endif

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD nReason, LPVOID)
{
    if (FAULT_IN_MAIN && nReason == DLL_PROCESS_ATTACH) Fault();
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    if (!FAULT_IN_MAIN) Fault();
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    if (!FAULT_IN_MAIN) Fault();
    return S_OK;
}
