// platform_win32.cpp - the platform layer on Windows (native or MinGW).
#include "platform.h"

#include <windows.h>
#include <io.h>
#include <cstdio>

namespace vhost::platform {

// ---- libraries ---------------------------------------------------------------

// The system's text for error code `code`, without the trailing newline.
static std::string systemMessage(DWORD code) {
    char *text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string s = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// LoadLibraryEx, so that DLLs the library needs (the microstructure
// library) are searched next to it first.
void *loadLibrary(const std::string &path, std::string &error) {
    HMODULE h = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!h) error = systemMessage(GetLastError());
    return reinterpret_cast<void *>(h);
}

// GetProcAddress: also gives the address of data exported with DATA.
void *findSymbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

// ---- process facts -----------------------------------------------------------

// GetModuleFileName of the executable.
std::string executablePath() {
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return "";
    return std::string(buf, n);
}

// lib<name>.dll, the name the user-library build gives on Windows.
std::string libraryFileName(const std::string &name) {
    return "lib" + name + ".dll";
}

// GetCurrentProcessId
long processId() {
    return static_cast<long>(GetCurrentProcessId());
}

// _isatty on the C runtime's stderr.
bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

// ---- child processes -------------------------------------------------------

// One argument quoted for CommandLineToArgvW / the C runtime's parser:
// backslashes are literal except before a quote, where they are doubled.
static std::string quoteArgument(const std::string &a) {
    if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) return a;
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++slashes;
        } else if (c == '"') {
            q.append(slashes * 2 + 1, '\\');
            q += '"';
            slashes = 0;
        } else {
            q.append(slashes, '\\');
            q += c;
            slashes = 0;
        }
    }
    q.append(slashes * 2, '\\');
    q += '"';
    return q;
}

// The inheritable handle of a standard stream, or null.
static HANDLE inheritable(DWORD which) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE dup = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return dup;
}

// Read what is available in the pipe into `out`; false at end of data.
static bool readAvailable(HANDLE pipe, std::string &out) {
    DWORD avail = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &avail, nullptr)) return false;
    while (avail > 0) {
        char buf[65536];
        DWORD n = 0;
        DWORD want = avail < sizeof buf ? avail : static_cast<DWORD>(sizeof buf);
        if (!ReadFile(pipe, buf, want, &n, nullptr) || n == 0) return false;
        out.append(buf, n);
        avail -= n;
    }
    return true;
}

// CreateProcess with stdout on an anonymous pipe; the parent keeps
// reading while the child runs, so a child that writes much never blocks.
RunResult runCaptured(const std::vector<std::string> &args, const std::function<void()> &idle) {
    RunResult res;
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
        res.error = systemMessage(GetLastError());
        return res;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string cmd;
    for (const auto &a : args) {
        if (!cmd.empty()) cmd += ' ';
        cmd += quoteArgument(a);
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = inheritable(STD_ERROR_HANDLE);
    si.hStdInput = inheritable(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    BOOL ok =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    DWORD createError = ok ? 0 : GetLastError();
    CloseHandle(writeEnd);
    if (si.hStdError) CloseHandle(si.hStdError);
    if (si.hStdInput) CloseHandle(si.hStdInput);
    if (!ok) {
        CloseHandle(readEnd);
        res.error = systemMessage(createError);
        return res;
    }
    res.started = true;
    CloseHandle(pi.hThread);
    DWORD waited = 0;
    for (;;) {
        bool open = readAvailable(readEnd, res.out);
        DWORD w = WaitForSingleObject(pi.hProcess, 20);
        if (w == WAIT_OBJECT_0 || !open) break;
        waited += 20;
        if (waited >= 200) {
            waited = 0;
            if (idle) idle();
        }
    }
    // The child has ended: take what is left in the pipe.
    for (;;) {
        char buf[65536];
        DWORD n = 0;
        if (!ReadFile(readEnd, buf, sizeof buf, &n, nullptr) || n == 0) break;
        res.out.append(buf, n);
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(readEnd);
    // Exception codes (access violation 0xC0000005, ...) mark a crash.
    res.exited = code < 0xC0000000u;
    res.status = static_cast<int>(code);
    return res;
}

} // namespace vhost::platform
