#pragma once
// No server's code runs in the utility. An in-process server's registration
// runs in a helper process of the server's bitness, this program's own
// program for its bitness and the sibling for the other, started hidden as
//     <program> /host <requests> <answers>
// with the values of the two pipe handles it inherits. The helper reads one
// request a line ("register <path>" or "unregister <path>", in the programs'
// shared code page) and answers each with one line (FormatRegistrationLine)
// on the answers' pipe alone: what a server prints goes to the helper's
// standard output, the NUL device, and never mixes with the answers.
#include "engine/components/SelfRegistration.h"
#include <functional>
#include <map>
#include <memory>
#include <string>

class CServerHost;

// The helper processes of one press: at most one per program, started on
// first need, kept for every later server, replaced after one ends or is
// ended, and ended with the set.
class CServerHosts {
public:
    CServerHosts();
    ~CServerHosts();
    CServerHosts(const CServerHosts&) = delete;
    CServerHosts& operator=(const CServerHosts&) = delete;

    // Runs one in-process server's registration in the helper strProgram,
    // within the options' time limit, with their progress, and fills result
    // as RegisterServerFile does. True as RegisterServerFile is.
    bool Run(const CString& strProgram, const CString& strPath, bool bRegister, const RunOptions& options,
             RegistrationResult& result);
    // How many helper processes the set has started.
    int Starts() const { return m_nStarts; }

    // How one exchange with a helper ended.
    struct Exchange {
        enum Kind { ANSWERED, NOT_STARTED, ENDED, STOPPED, GARBLED } nKind = ANSWERED;
        DWORD dwCode = 0;         // NOT_STARTED: the system's error; ENDED: the helper's exit code
        bool bTimedOut = false;   // STOPPED at the time limit, else at the user's request
    };
    // Writes strRequest to the helper strProgram and hands each line it
    // answers to onLine until onLine says it was the last, all within the
    // time limit. A helper that did not answer fully is ended.
    Exchange Converse(const CString& strProgram, const std::string& strRequest,
                      const std::function<bool(const std::string&)>& onLine, const CString& strWaitingFor,
                      DWORD dwTimeLimitMs, CWorkProgress& progress);
    // Ends the helper strProgram, whose state its last request spoilt: the
    // next request starts another.
    void Replace(const CString& strProgram);

private:
    // The helper strProgram, started when there is none alive; null with
    // the system's error when it cannot start.
    CServerHost* HostFor(const CString& strProgram, DWORD& dwError);

    std::map<std::string, std::unique_ptr<CServerHost>> m_hosts;
    int m_nStarts = 0;
};

// The helper's side of "/host": serves the requests one after another until
// the requests' pipe closes. Gives the process's exit code: 0, or 2 when the
// handles are no pipes.
int ServeRegistrations(HANDLE hRequests, HANDLE hAnswers);
