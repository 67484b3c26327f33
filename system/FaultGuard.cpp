#include "system/FaultGuard.h"

// MinGW has no __try/__except, so the guard is an SEH frame handler of our
// own, installed on the frame of a small trampoline. A frame handler, not a
// vectored one: a vectored handler sees every exception first, before the
// handlers that belong to it, and would take over faults that the server or
// the system handles itself (a server probing memory under its own __try, or
// the loader, which catches a fault in DllMain, releases its lock and fails
// the load with ERROR_NOACCESS). Our handler is asked only once every frame
// below it has declined, which is exactly "not handled by the foreign code";
// it then unwinds those frames the system's way (their cleanup runs) and
// resumes in the trampoline, which returns the exception code.

namespace {

// A plain static, not thread_local: the handler may run on a nearly
// exhausted stack, where MinGW's emulated TLS could need to allocate. Guarded
// calls run on one thread of a process: the server helper's, or the one that
// reads module files.
void* s_pFaultAddress = nullptr;

// C++ exceptions of our own modules are caught here, so that only foreign
// exceptions reach the frame handler; the thrown object is freed normally.
void CallCatchingThrows(void (*pfn)(void*), void* pContext, DWORD* pnThrown)
{
    try {
        pfn(pContext);
    } catch (...) {
        s_pFaultAddress = nullptr;
        *pnThrown = 0xE0474343;   // a custom code: "a C++ exception"
    }
}

struct GuardedCall {
    void (*pfn)(void*);
    void* pContext;
    DWORD nThrown;
};

void ForgeGuardTarget(void* pCall)
{
    auto* pGuarded = static_cast<GuardedCall*>(pCall);
    CallCatchingThrows(pGuarded->pfn, pGuarded->pContext, &pGuarded->nThrown);
}

// A stack overflow uses up the thread's guard page: the system commits the
// last pages for the exception's handling and sets no new guard. Without one,
// the next overflow on this thread runs into the stack's bottom, where no
// exception can be raised any more, and the process ends without a word. So
// after every guarded call (the loader also catches an overflow in DllMain by
// itself) the guard page is put back where the system first had it: above the
// bottom page and the space it guarantees for the handling, or at the lowest
// page still committed if that is higher.
void RestoreStackGuard()
{
    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    const ULONG_PTR nPage = system.dwPageSize;
    MEMORY_BASIC_INFORMATION region = {};
    if (!VirtualQuery(&region, &region, sizeof region)) return;
    BYTE* const pBase = static_cast<BYTE*>(region.AllocationBase);
    BYTE* const pHere = reinterpret_cast<BYTE*>(reinterpret_cast<ULONG_PTR>(&region) & ~(nPage - 1));

    ULONG nGuarantee = 0;   // 0 only asks for the current guarantee
    if (!SetThreadStackGuarantee(&nGuarantee)) nGuarantee = 0;
    ULONG_PTR nReserve = (nGuarantee + nPage - 1) & ~(nPage - 1);
    const ULONG_PTR nLeast = nPage * (sizeof(void*) == 8 ? 2 : 1);
    if (nReserve < nLeast) nReserve = nLeast;

    // The lowest page in use below us; a guard page anywhere means all is well.
    BYTE* pLowest = nullptr;
    for (BYTE* p = pBase; p < pHere; p = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (!VirtualQuery(p, &region, sizeof region) || region.AllocationBase != pBase) return;
        if (region.State != MEM_COMMIT) continue;
        if (region.Protect & PAGE_GUARD) return;
        if (!pLowest && !(region.Protect & PAGE_NOACCESS)) pLowest = p;
    }
    BYTE* pGuard = pBase + nPage + nReserve;
    if (pLowest && pLowest > pGuard) pGuard = pLowest;
    if (pGuard + nPage >= pHere) return;   // too close to us to be of use

    if (!VirtualQuery(pGuard, &region, sizeof region)) return;
    DWORD nOld = 0;
    if (region.State == MEM_COMMIT)
        VirtualProtect(pGuard, nPage, PAGE_READWRITE | PAGE_GUARD, &nOld);
    else
        VirtualAlloc(pGuard, nPage, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD);
}

} // namespace

#if defined(__x86_64__)

extern "C" DWORD ForgeGuardTrampoline(void (*pfn)(void*), void* pContext);
extern "C" const char ForgeGuardLanding[];
extern "C" EXCEPTION_DISPOSITION ForgeGuardHandler(EXCEPTION_RECORD* pRecord, void* pFrame,
                                                   CONTEXT* pContext, DISPATCHER_CONTEXT* pDispatch);

// The trampoline calls pfn(pContext) and returns 0. Its unwind data names
// ForgeGuardHandler; an unwind to ForgeGuardLanding returns the value that
// RtlUnwindEx puts in rax, the exception code. No frame pointer, so the
// epilogue is the plain "add rsp; ret" the unwinder recognises.
asm(R"(
    .text
    .p2align 4
    .globl ForgeGuardTrampoline
    .def ForgeGuardTrampoline; .scl 2; .type 32; .endef
    .seh_proc ForgeGuardTrampoline
ForgeGuardTrampoline:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    xorl %eax, %eax
    .globl ForgeGuardLanding
ForgeGuardLanding:
    addq $40, %rsp
    retq
    .seh_handler ForgeGuardHandler, @except
    .seh_endproc
)");

extern "C" EXCEPTION_DISPOSITION ForgeGuardHandler(EXCEPTION_RECORD* pRecord, void* pFrame,
                                                   CONTEXT*, DISPATCHER_CONTEXT* pDispatch)
{
    // Called again while the unwind passes (or targets) this frame: nothing to do.
    if (pRecord->ExceptionFlags & EXCEPTION_UNWIND) return ExceptionContinueSearch;
    s_pFaultAddress = pRecord->ExceptionAddress;
    RtlUnwindEx(pFrame, const_cast<char*>(ForgeGuardLanding), pRecord,
                reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(pRecord->ExceptionCode)),
                pDispatch->ContextRecord, pDispatch->HistoryTable);
    return ExceptionContinueSearch;   // not reached: RtlUnwindEx does not return
}

DWORD CallFaultGuarded(void (*pfn)(void*), void* pContext)
{
    GuardedCall call = {pfn, pContext, 0};
    const DWORD nCode = ForgeGuardTrampoline(ForgeGuardTarget, &call);
    RestoreStackGuard();
    return nCode ? nCode : call.nThrown;
}

#elif defined(__i386__)

// On x86 the frame handlers form a list at fs:[0]. Ours unwinds the records
// below it with RtlUnwind (their handlers run), then resumes at the
// __builtin_setjmp point, which needs no unwind data of its own.
namespace {

struct GuardFrame {
    GuardFrame* pNext;   // EXCEPTION_REGISTRATION_RECORD layout: Next, Handler
    void* pHandler;
    void* jmpBuffer[5];
    DWORD nCode;
};

EXCEPTION_DISPOSITION __cdecl ForgeGuardHandler(EXCEPTION_RECORD* pRecord, void* pFrame,
                                                CONTEXT*, void*)
{
    if (pRecord->ExceptionFlags & EXCEPTION_UNWIND) return ExceptionContinueSearch;
    s_pFaultAddress = pRecord->ExceptionAddress;
    // Kept in memory: RtlUnwind does not preserve every callee-saved register.
    GuardFrame* volatile pGuard = static_cast<GuardFrame*>(pFrame);
    pGuard->nCode = pRecord->ExceptionCode;
    RtlUnwind(pFrame, nullptr, pRecord, nullptr);
    __builtin_longjmp(pGuard->jmpBuffer, 1);
}

DWORD __attribute__((noinline)) RunWithFrame(GuardedCall* pCall)
{
    GuardFrame frame = {};
    frame.pHandler = reinterpret_cast<void*>(&ForgeGuardHandler);
    frame.pNext = reinterpret_cast<GuardFrame*>(__readfsdword(0));
    if (__builtin_setjmp(frame.jmpBuffer) == 0) {
        __writefsdword(0, reinterpret_cast<DWORD>(&frame));
        ForgeGuardTarget(pCall);
    }
    __writefsdword(0, reinterpret_cast<DWORD>(frame.pNext));
    return frame.nCode;
}

} // namespace

DWORD CallFaultGuarded(void (*pfn)(void*), void* pContext)
{
    GuardedCall call = {pfn, pContext, 0};
    const DWORD nCode = RunWithFrame(&call);
    RestoreStackGuard();
    return nCode ? nCode : call.nThrown;
}

#else
#error the fault guard supports x86 and x86-64
#endif

void* LastGuardedFaultAddress()
{
    return s_pFaultAddress;
}
