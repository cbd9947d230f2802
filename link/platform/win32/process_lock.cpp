#include "link/platform/process_lock.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

namespace kt::platform {

struct ProcessLock::Impl {
    HANDLE handle = nullptr;
};

// A named system mutex: shared by every handle of that name in this and any other process.
ProcessLock::ProcessLock(std::string_view name) : impl_(std::make_unique<Impl>()) {
    impl_->handle = CreateMutexA(nullptr, FALSE, std::string(name).c_str());
}

ProcessLock::~ProcessLock() {
    if (impl_->handle) CloseHandle(impl_->handle);
}

LockWait ProcessLock::wait(std::chrono::milliseconds timeout) {
    if (!impl_->handle) return LockWait::Failed;
    switch (WaitForSingleObject(impl_->handle, static_cast<DWORD>(timeout.count()))) {
    case WAIT_OBJECT_0:
        return LockWait::Acquired;
    case WAIT_TIMEOUT:
        return LockWait::TimedOut;
    case WAIT_ABANDONED:
        return LockWait::Abandoned;
    default:
        return LockWait::Failed;
    }
}

void ProcessLock::release() {
    if (impl_->handle) ReleaseMutex(impl_->handle);
}

} // namespace kt::platform
