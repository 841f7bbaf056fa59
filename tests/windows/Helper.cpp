// A small Windows program for the tests: a process to find by its image name, a base program
// to embed items into, and proof that a packed program still runs.
//   test_helper exit N     ends with exit code N
//   test_helper sleep MS   sleeps, then ends with 0

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"exit") == 0) {
        return static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    }
    if (argc == 3 && std::wcscmp(argv[1], L"sleep") == 0) {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        return 0;
    }
    return 2;
}
