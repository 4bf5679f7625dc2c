// user32.dll: message boxes, recorded by the machine and answered without a user.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

namespace {

int showMessageBox(const char* entry, HWND owner, std::u16string text, std::u16string caption,
                   UINT type) {
    sim::Call call("user32.dll", entry);
    call.args("caption=%s text=%s style=0x%x", sim::toUtf8(caption).c_str(),
              sim::toUtf8(text).c_str(), type);
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(0);
    }
    sim::MessageBoxRecord record;
    record.title = std::move(caption);
    record.text = std::move(text);
    record.style = type;
    record.owner = owner;
    return call.finish(sim::Machine::instance().messageBoxes().show(std::move(record)));
}

} // namespace

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    // A null caption is "Error", as Windows shows it.
    std::u16string title = caption ? sim::wideOf(caption) : u"Error";
    return showMessageBox("MessageBoxW", owner, sim::wideOf(text), title, type);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    std::u16string title = caption ? sim::fromUtf8(caption) : u"Error";
    return showMessageBox("MessageBoxA", owner, sim::fromUtf8(text ? text : ""), title, type);
}
