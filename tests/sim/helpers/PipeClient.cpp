// sim_pipe_client: a program for the process and pipe tests, playing the other end of a
// named pipe the way a watchdog does. Usage: sim_pipe_client <pipe name> <output file>.
// It reads the pipe until the writer closes it and writes what it got into the output file
// (both Windows paths of the machine it shares with its parent). Exit code 0 on success.
#include "platform/sim/win32_api.h"
#include "sim/WideString.h"

#include <vector>

int main(int argc, char** argv) {
    if (argc != 3)
        return 10;
    std::u16string pipeName = sim::fromUtf8(argv[1]);
    std::u16string output = sim::fromUtf8(argv[2]);
    HANDLE pipe = CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return 11;
    std::vector<char> received;
    char buffer[300];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0)
        received.insert(received.end(), buffer, buffer + read);
    if (GetLastError() != ERROR_BROKEN_PIPE)
        return 12;
    CloseHandle(pipe);
    HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 13;
    DWORD written = 0;
    BOOL ok =
        WriteFile(file, received.data(), static_cast<DWORD>(received.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == received.size() ? 0 : 14;
}
