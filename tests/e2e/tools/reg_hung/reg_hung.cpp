// Stand-in for reg.exe: a query that names HKCU hangs for good (a stuck registry
// query); any other command prints nothing and exits 0, so the index only loses
// what the hung query would have added.
#include <windows.h>

#include <string_view>

int main() {
    const std::wstring_view command_line = ::GetCommandLineW();
    if (command_line.find(L"HKCU") != std::wstring_view::npos) {
        ::Sleep(INFINITE);
    }
    return 0;
}
