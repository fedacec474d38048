// Stand-in for powershell.exe in the test Wine prefix (Wine's own prints
// nothing). It takes the executor's command line, decodes -EncodedCommand,
// recovers the user script from the wrapper and runs a small test vocabulary,
// one command per line, printing the wrapper document as PowerShell would:
//
//   Write-Output <text>      output += text + CR LF (how Out-String renders a string)
//   zt-output <text>         output += text, escapes \r \n \t \\ decoded
//   throw <message>          {"ok":false,"error":message,"category":"OperationStopped",...}
//   zt-fail-bare             prints {"ok":false}
//   zt-exit-silent           exits without printing anything
//   zt-print <text>          prints text (escapes decoded) instead of the document
//   zt-stderr <text>         writes text + CR LF to standard error, then goes on
//   zt-big <kilobytes>       output += that many KiB of 'x'
//   Start-Sleep <seconds>    sleeps
//   zt-console               output += "console-processes <n>" CR LF
//   zt-spawn-holder <sec>    starts a grandchild that inherits the output pipes and
//                            lives <sec> seconds; output += "holder <pid>" CR LF
//   zt-oem                   from here on both streams are written in the OEM code
//                            page (GetOEMCP), as Windows PowerShell writes into a pipe
//   anything else            the CommandNotFoundException document
//
// -Command with a Get-StartApps query prints start_apps.json from the folder of
// this program ("[]" when absent). When ZELTO_STANDIN_PID_LOG names a file,
// every process of the stand-in appends its process id to it, so tests can
// check that nothing is left running.
#include <windows.h>

#include <shellapi.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kWrapperHead =
    "$ErrorActionPreference = 'Stop'\n"
    "try {\n"
    "  $zeltoResult = & {\n";
constexpr std::string_view kWrapperTail =
    "\n"
    "  }\n"
    "  [PSCustomObject]@{ ok = $true; output = [string]($zeltoResult | Out-String) }\n"
    "} catch {\n"
    "  [PSCustomObject]@{ ok = $false; error = $_.Exception.Message; category = "
    "[string]$_.CategoryInfo.Category; reason = [string]$_.CategoryInfo.Reason }\n"
    "} | ConvertTo-Json -Compress -Depth 6";

std::string narrow(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

// Written on its own (not shared with the executor) so an encoding fault on
// one side cannot cancel out on the other.
std::optional<std::string> base64_decode(std::string_view text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    };
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int quad[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                quad[k] = 0;
                ++padding;
            } else if (padding > 0 || (quad[k] = value(c)) < 0) {
                return std::nullopt;
            }
        }
        const unsigned bits = (quad[0] << 18) | (quad[1] << 12) | (quad[2] << 6) | quad[3];
        out.push_back(static_cast<char>(bits >> 16));
        if (padding < 2)
            out.push_back(static_cast<char>((bits >> 8) & 0xFF));
        if (padding < 1)
            out.push_back(static_cast<char>(bits & 0xFF));
    }
    return out;
}

// Set by zt-oem.
bool g_oem_output = false;

// UTF-8 text as the OEM code page's bytes; characters it lacks become its default character.
std::string to_oem(std::string_view utf8) {
    const std::wstring wide = widen(utf8);
    if (wide.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_OEMCP, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_OEMCP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

void write_all(DWORD which, std::string_view text) {
    const std::string encoded = g_oem_output ? to_oem(text) : std::string();
    std::string_view bytes = g_oem_output ? std::string_view(encoded) : text;
    const HANDLE handle = ::GetStdHandle(which);
    while (!bytes.empty() && handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) ||
            written == 0) {
            return;
        }
        bytes.remove_prefix(written);
    }
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    wsprintfA(escaped, "\\u%04x", static_cast<unsigned char>(c));
                    out += escaped;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out + "\"";
}

std::string decode_escapes(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out.push_back(next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next);
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string unquote(std::string_view text) {
    if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') &&
        text.back() == text.front()) {
        return std::string(text.substr(1, text.size() - 2));
    }
    return std::string(text);
}

std::wstring own_path() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

void log_pid(DWORD pid = ::GetCurrentProcessId()) {
    wchar_t log[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"ZELTO_STANDIN_PID_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    const HANDLE file = ::CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string line = std::to_string(pid) + "\n";
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
}

// A grandchild that inherits this process's output pipes, as a program the
// script started might.
std::optional<DWORD> spawn_holder(const std::string& seconds) {
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        ::SetHandleInformation(::GetStdHandle(which), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    std::wstring command = L"\"" + own_path() + L"\" -ZeltoHold " + widen(seconds);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &started)) {
        return std::nullopt;
    }
    // Logged by the parent too: a grandchild killed early may never log itself.
    log_pid(started.dwProcessId);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return started.dwProcessId;
}

std::string error_document(std::string_view message, std::string_view category,
                           std::string_view reason) {
    return "{\"ok\":false,\"error\":" + json_string(message) +
           ",\"category\":" + json_string(category) + ",\"reason\":" + json_string(reason) + "}";
}

int run_script(std::string_view script) {
    std::string output;
    std::size_t start = 0;
    while (start <= script.size()) {
        std::size_t end = script.find('\n', start);
        if (end == std::string_view::npos) {
            end = script.size();
        }
        const std::string_view line = trim(script.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto space = line.find(' ');
        const std::string_view word = line.substr(0, space);
        const std::string_view rest =
            space == std::string_view::npos ? std::string_view{} : trim(line.substr(space + 1));
        if (word == "Write-Output") {
            output += unquote(rest) + "\r\n";
        } else if (word == "zt-output") {
            output += decode_escapes(rest);
        } else if (word == "throw") {
            write_all(
                STD_OUTPUT_HANDLE,
                error_document(unquote(rest), "OperationStopped", "RuntimeException") + "\r\n");
            return 0;
        } else if (word == "zt-fail-bare") {
            write_all(STD_OUTPUT_HANDLE, "{\"ok\":false}\r\n");
            return 0;
        } else if (word == "zt-exit-silent") {
            return 0;
        } else if (word == "zt-print") {
            write_all(STD_OUTPUT_HANDLE, decode_escapes(rest));
            return 0;
        } else if (word == "zt-console") {
            // 1 when the child got a console of its own (CREATE_NO_WINDOW), more
            // when it shares its parent's.
            DWORD processes[16];
            output += "console-processes " +
                      std::to_string(::GetConsoleProcessList(processes, 16)) + "\r\n";
        } else if (word == "zt-oem") {
            g_oem_output = true;
        } else if (word == "zt-stderr") {
            write_all(STD_ERROR_HANDLE, decode_escapes(rest) + "\r\n");
        } else if (word == "zt-big") {
            output.append(static_cast<std::size_t>(std::stoul(std::string(rest))) * 1024, 'x');
        } else if (word == "Start-Sleep") {
            ::Sleep(static_cast<DWORD>(std::stoul(std::string(rest))) * 1000);
        } else if (word == "zt-spawn-holder") {
            const auto pid = spawn_holder(std::string(rest));
            if (!pid) {
                write_all(
                    STD_OUTPUT_HANDLE,
                    error_document("spawn failed", "NotSpecified", "Win32Exception") + "\r\n");
                return 0;
            }
            output += "holder " + std::to_string(*pid) + "\r\n";
        } else {
            const std::string message =
                "The term '" + std::string(word) +
                "' is not recognized as the name of a cmdlet, function, script file, or operable "
                "program. Check the spelling of the name, or if a path was included, verify that "
                "the path is correct and try again.";
            write_all(
                STD_OUTPUT_HANDLE,
                error_document(message, "ObjectNotFound", "CommandNotFoundException") + "\r\n");
            return 0;
        }
    }
    write_all(STD_OUTPUT_HANDLE, "{\"ok\":true,\"output\":" + json_string(output) + "}\r\n");
    return 0;
}

int start_apps() {
    std::wstring path = own_path();
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"start_apps.json";
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string content;
    if (file == INVALID_HANDLE_VALUE) {
        content = "[]";
    } else {
        char chunk[4096];
        DWORD read = 0;
        while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
            content.append(chunk, read);
        }
        ::CloseHandle(file);
    }
    write_all(STD_OUTPUT_HANDLE, content + "\r\n");
    return 0;
}

}  // namespace

int main() {
    log_pid();
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        args.push_back(narrow(argv[i]));
    }
    ::LocalFree(argv);

    if (args.size() == 2 && args[0] == "-ZeltoHold") {
        ::Sleep(static_cast<DWORD>(std::stoul(args[1])) * 1000);
        return 0;
    }
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-Command" && args[i + 1].find("Get-StartApps") != std::string::npos) {
            return start_apps();
        }
        if (args[i] != "-EncodedCommand") {
            continue;
        }
        if (i != 2 || args.size() != 4 || args[0] != "-NoProfile" || args[1] != "-NonInteractive") {
            write_all(STD_ERROR_HANDLE, "powershell stand-in: unexpected arguments\r\n");
            return 1;
        }
        const std::optional<std::string> bytes = base64_decode(args[i + 1]);
        if (!bytes || bytes->size() % 2 != 0) {
            write_all(STD_ERROR_HANDLE,
                      "powershell stand-in: -EncodedCommand is not base64 UTF-16\r\n");
            return 1;
        }
        std::wstring units(bytes->size() / 2, L'\0');
        for (std::size_t k = 0; k < units.size(); ++k) {
            units[k] = static_cast<wchar_t>(static_cast<unsigned char>((*bytes)[2 * k]) |
                                            (static_cast<unsigned char>((*bytes)[2 * k + 1]) << 8));
        }
        const std::string wrapper = narrow(units);
        if (wrapper.size() < kWrapperHead.size() + kWrapperTail.size() ||
            !wrapper.starts_with(kWrapperHead) || !wrapper.ends_with(kWrapperTail)) {
            write_all(STD_ERROR_HANDLE,
                      "powershell stand-in: not the executor's wrapper script\r\n");
            return 1;
        }
        return run_script(std::string_view(wrapper).substr(
            kWrapperHead.size(), wrapper.size() - kWrapperHead.size() - kWrapperTail.size()));
    }
    write_all(STD_ERROR_HANDLE, "powershell stand-in: unsupported command line\r\n");
    return 1;
}
