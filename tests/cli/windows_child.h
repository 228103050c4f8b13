#pragma once

// Windows: the program started as cmd.exe and PowerShell start it. <windows.h> is included last by the
// files that use this, and they are compiled on their own (no unity batch), so that its macros reach
// no other header.

#include "cli_test_support.h"
#include "platform/internal/windows_text.h"

#include <algorithm>
#include <cstdlib>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace hgt::cli::test {

// One UTF-16 command line, the arguments quoted by the rules CommandLineToArgvW and the C runtime read them back with.
inline std::wstring quotedArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    for (auto at = argument.begin();; ++at) {
        std::size_t backslashes = 0;
        for (; at != argument.end() && *at == L'\\'; ++at)
            ++backslashes;
        if (at == argument.end()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        quoted.append(*at == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted.push_back(*at);
    }
    return quoted + L'"';
}

// The build names the program by a POSIX path when it runs under Wine (drive Z: is the root).
// The build's program, or the one HGTFILL_CLI_UNDER_TEST names: scripts/windows-check runs the suite
// against the packaged program, whose folder holds the Qt plugins that render needs.
inline std::wstring programPath()
{
    const char* chosen = std::getenv("HGTFILL_CLI_UNDER_TEST");
    std::wstring path = hgt::windows::Widen(chosen && *chosen ? chosen : HGTFILL_CLI);
    if (!path.empty() && path.front() == L'/')
        path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// A file the child writes its stdout or stderr into.
inline HANDLE inheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(hgt::windows::Widen(path).c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct ChildProcess {
    HANDLE process = nullptr;
    DWORD id = 0;
};

// `environment`: a block of "NAME=value" entries, each ended by a zero, the block by one more.
inline ChildProcess startProgram(const std::vector<std::string>& args, HANDLE out, HANDLE err, DWORD flags = 0,
                                 std::wstring* environment = nullptr)
{
    const std::wstring program = programPath();
    std::wstring line = quotedArgument(program);
    for (const std::string& arg : args)
        line += L' ' + quotedArgument(hgt::windows::Widen(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION started{};
    if (environment)
        flags |= CREATE_UNICODE_ENVIRONMENT;
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                        environment ? environment->data() : nullptr, nullptr, &startup, &started)) {
        ADD_FAILURE() << "CreateProcessW: " << GetLastError();
        return {};
    }
    CloseHandle(started.hThread);
    return {started.hProcess, started.dwProcessId};
}

// The exit status, or -1 when the program has not ended within the time.
inline long waitProgram(ChildProcess& child, DWORD timeoutMs = INFINITE)
{
    if (!child.process || WaitForSingleObject(child.process, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD status = 0;
    GetExitCodeProcess(child.process, &status);
    CloseHandle(child.process);
    child.process = nullptr;
    return static_cast<long>(status);
}

} // namespace hgt::cli::test
