// How many threads this process has now, from a Toolhelp snapshot.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>

#include "core/common/handles.h"

namespace TestSupport {

inline size_t ThreadsOfThisProcess() {
    const Common::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    size_t threads = 0;
    for (bool more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        threads += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    }
    return threads;
}

}  // namespace TestSupport
