#pragma once
#include <windows.h>
#include <atomic>
#include <thread>

// Wakes the thread that made it every tenth of a second or so, for as long
// as it lives. COM's wait for an outgoing call consults the message filter
// only when a message arrives: the ticks let the filter show the stop prompt
// and hear a stop while a call hangs and nothing else happens.
class CWakeTicker {
public:
    CWakeTicker();
    ~CWakeTicker();
    CWakeTicker(const CWakeTicker&) = delete;
    CWakeTicker& operator=(const CWakeTicker&) = delete;

private:
    std::atomic<bool> m_bRunning{true};
    std::thread m_thread;
};
