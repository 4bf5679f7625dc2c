// user32.dll: thread window hooks and thread message queues.
//
// Enough of Windows' hook machinery for a library that watches a thread's messages: thread
// hooks are kept per thread, newest first; retrieving a message with PeekMessageW runs the
// thread's WH_GETMESSAGE chain, and CallNextHookEx walks on down that chain.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct Hook {
    HHOOK handle;
    int id;
    HOOKPROC proc;
    DWORD threadId;
};

struct HookState {
    std::mutex lock;
    std::vector<Hook> hooks; // newest first
    std::map<DWORD, std::deque<MSG>> queues;
    uintptr_t nextHandle = 0x10000;
};

HookState& state() {
    static HookState* s = new HookState; // lives as long as the process
    return *s;
}

// The chain being dispatched on this thread: the hooks still to run after the current one.
thread_local std::vector<Hook>* t_pChain = nullptr;
thread_local size_t t_chainPosition = 0;

HHOOK setHook(const char* entry, int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
    sim::Call call("user32.dll", entry);
    call.args("idHook=%d module=%p threadId=%u", idHook, static_cast<void*>(module), threadId);
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(static_cast<HHOOK>(nullptr));
    }
    if (!proc) {
        sim::setLastError(ERROR_INVALID_FILTER_PROC);
        return call.finish(static_cast<HHOOK>(nullptr));
    }
    if (threadId == 0 && !module) {
        // A global hook must live in a module; the machine does not simulate global hooks.
        sim::setLastError(ERROR_HOOK_NEEDS_HMOD);
        return call.finish(static_cast<HHOOK>(nullptr));
    }
    if (threadId == 0) {
        sim::setLastError(ERROR_INVALID_THREAD_ID);
        return call.finish(static_cast<HHOOK>(nullptr));
    }
    HookState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    HHOOK handle = reinterpret_cast<HHOOK>(s.nextHandle);
    s.nextHandle += 4;
    s.hooks.insert(s.hooks.begin(), Hook{handle, idHook, proc, threadId});
    return call.finish(handle);
}

// The hooks of one kind on one thread, newest first.
std::vector<Hook> chainOf(int idHook, DWORD threadId) {
    HookState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    std::vector<Hook> chain;
    for (const Hook& hook : s.hooks)
        if (hook.id == idHook && hook.threadId == threadId)
            chain.push_back(hook);
    return chain;
}

LRESULT runChain(std::vector<Hook>& chain, size_t position, int code, WPARAM wParam,
                 LPARAM lParam) {
    if (position >= chain.size())
        return 0;
    std::vector<Hook>* savedChain = t_pChain;
    size_t savedPosition = t_chainPosition;
    t_pChain = &chain;
    t_chainPosition = position + 1;
    LRESULT result = chain[position].proc(code, wParam, lParam);
    t_pChain = savedChain;
    t_chainPosition = savedPosition;
    return result;
}

} // namespace

HHOOK WINAPI SetWindowsHookExA(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
    return setHook("SetWindowsHookExA", idHook, proc, module, threadId);
}

HHOOK WINAPI SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
    return setHook("SetWindowsHookExW", idHook, proc, module, threadId);
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hook) {
    sim::Call call("user32.dll", "UnhookWindowsHookEx");
    call.args("hook=%p", static_cast<void*>(hook));
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(FALSE);
    }
    HookState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = std::find_if(s.hooks.begin(), s.hooks.end(),
                           [hook](const Hook& h) { return h.handle == hook; });
    if (it == s.hooks.end()) {
        sim::setLastError(ERROR_INVALID_HOOK_HANDLE);
        return call.finish(FALSE);
    }
    s.hooks.erase(it);
    return call.finish(TRUE);
}

LRESULT WINAPI CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
    // As on Windows, the handle is not needed: the chain position of the running dispatch
    // says which hook is next. Outside a dispatch there is no next hook.
    sim::Call call("user32.dll", "CallNextHookEx");
    call.args("hook=%p code=%d", static_cast<void*>(hook), code);
    if (!t_pChain)
        return call.finish(static_cast<LRESULT>(0));
    return call.finish(runChain(*t_pChain, t_chainPosition, code, wParam, lParam));
}

BOOL WINAPI PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    sim::Call call("user32.dll", "PostThreadMessageW");
    call.args("threadId=%u message=0x%x", threadId, message);
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(FALSE);
    }
    if (threadId == 0) {
        sim::setLastError(ERROR_INVALID_THREAD_ID);
        return call.finish(FALSE);
    }
    MSG msg = {};
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    HookState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.queues[threadId].push_back(msg);
    return call.finish(TRUE);
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    (void)window;
    (void)filterMin;
    (void)filterMax;
    sim::Call call("user32.dll", "PeekMessageW");
    call.args("remove=0x%x", remove);
    if (!msg)
        return call.finish(FALSE);
    DWORD threadId = sim::currentThreadId();
    {
        HookState& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        std::deque<MSG>& queue = s.queues[threadId];
        if (queue.empty())
            return call.finish(FALSE);
        *msg = queue.front();
        if (remove & PM_REMOVE)
            queue.pop_front();
    }
    std::vector<Hook> chain = chainOf(WH_GETMESSAGE, threadId);
    runChain(chain, 0, HC_ACTION, remove & PM_REMOVE, reinterpret_cast<LPARAM>(msg));
    return call.finish(TRUE);
}
