// A program that must never be started: the end-to-end tests plant copies of it
// where a careless launch would find it. When it runs it leaves a file named
// after itself with ".ran" appended, so a test can tell that it ran.
#include <windows.h>

#include <string>

int main() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    const HANDLE marker = ::CreateFileW((path + L".ran").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) {
        ::CloseHandle(marker);
    }
    return 0;
}
