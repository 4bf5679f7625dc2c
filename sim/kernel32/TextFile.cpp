// _wfopen: the C runtime's file open with Windows paths and Windows text mode.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <errno.h>
#include <stdio.h>
#include <string>

namespace {

/// A stream in Windows text mode over a binary host file: "\n" is written as "\r\n", and
/// reading turns "\r\n" back into "\n" and stops at Ctrl-Z, as the Windows C runtime does.
struct TextStream {
    FILE* file;
    bool ended = false; // a Ctrl-Z was read
};

ssize_t textRead(void* cookie, char* buffer, size_t size) {
    auto* stream = static_cast<TextStream*>(cookie);
    size_t produced = 0;
    while (produced < size && !stream->ended) {
        int c = fgetc(stream->file);
        if (c == EOF)
            break;
        if (c == 0x1A) {
            stream->ended = true;
            break;
        }
        if (c == '\r') {
            int next = fgetc(stream->file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                ungetc(next, stream->file);
        }
        buffer[produced++] = static_cast<char>(c);
    }
    if (produced == 0 && ferror(stream->file))
        return -1;
    return static_cast<ssize_t>(produced);
}

ssize_t textWrite(void* cookie, const char* buffer, size_t size) {
    auto* stream = static_cast<TextStream*>(cookie);
    std::string translated;
    translated.reserve(size + size / 8);
    for (size_t i = 0; i < size; ++i) {
        if (buffer[i] == '\n')
            translated += '\r';
        translated += buffer[i];
    }
    if (fwrite(translated.data(), 1, translated.size(), stream->file) != translated.size())
        return 0;
    return static_cast<ssize_t>(size);
}

int textSeek(void* cookie, off64_t* offset, int whence) {
    auto* stream = static_cast<TextStream*>(cookie);
    if (fseeko(stream->file, *offset, whence) != 0)
        return -1;
    stream->ended = false;
    *offset = ftello(stream->file);
    return 0;
}

int textClose(void* cookie) {
    auto* stream = static_cast<TextStream*>(cookie);
    int result = fclose(stream->file);
    delete stream;
    return result;
}

/// The host mode for a Windows mode string ("r", "w+", "ab", "rt", "w, ccs=UTF-8", ...):
/// always binary on the host; `text` tells whether the Windows stream is in text mode.
bool hostMode(const std::u16string& mode, std::string& host, bool& text) {
    if (mode.empty() || (mode[0] != u'r' && mode[0] != u'w' && mode[0] != u'a'))
        return false;
    host.assign(1, static_cast<char>(mode[0]));
    text = true;
    bool plus = false;
    bool exclusive = false;
    for (size_t i = 1; i < mode.size(); ++i) {
        char16_t c = mode[i];
        if (c == u',')
            break; // ", ccs=..." encodings are not simulated; the stream stays bytes
        if (c == u'+')
            plus = true;
        else if (c == u'b')
            text = false;
        else if (c == u'x')
            exclusive = true;
        else if (c != u't' && c != u'c' && c != u'n' && c != u'N' && c != u'S' && c != u'R' &&
                 c != u'T' && c != u'D' && c != u' ')
            return false;
    }
    if (plus)
        host += '+';
    host += 'b';
    if (exclusive)
        host += 'x';
    return true;
}

} // namespace

FILE* _wfopen(const WCHAR* path, const WCHAR* mode) {
    sim::Call call("kernel32.dll", "_wfopen");
    std::u16string windowsPath = sim::wideOf(path);
    std::u16string windowsMode = sim::wideOf(mode);
    call.args("path=%s mode=%s", sim::toUtf8(windowsPath).c_str(),
              sim::toUtf8(windowsMode).c_str());
    if (call.faulted()) {
        errno = static_cast<int>(call.faultStatus());
        return call.finish(static_cast<FILE*>(nullptr));
    }
    std::string host;
    bool text = false;
    if (!path || !mode || !hostMode(windowsMode, host, text)) {
        errno = EINVAL;
        return call.finish(static_cast<FILE*>(nullptr));
    }
    std::string hostPath = sim::Machine::instance().root().toHost(windowsPath);
    if (hostPath.empty()) {
        errno = ENOENT;
        return call.finish(static_cast<FILE*>(nullptr));
    }
    FILE* file = fopen(hostPath.c_str(), host.c_str());
    if (!file || !text)
        return call.finish(file);

    auto* stream = new TextStream{file};
    cookie_io_functions_t functions = {textRead, textWrite, textSeek, textClose};
    FILE* wrapped = fopencookie(stream, host.c_str(), functions);
    if (!wrapped) {
        fclose(file);
        delete stream;
        errno = ENOMEM;
    }
    return call.finish(wrapped);
}
