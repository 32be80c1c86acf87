#include "CliApp.h"

#include <iostream>

#ifdef _WIN32
#include <windows.h>

// The arguments as UTF-16, turned into the UTF-8 the core takes; output in UTF-8 too.
int wmain(int argc, wchar_t** argv) {
    ::SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int length =
            ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), length, nullptr, nullptr);
        arg.resize(arg.size() - 1); // the terminating NUL
        args.push_back(std::move(arg));
    }
    return ostrapel::RunCli(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return ostrapel::RunCli(args, std::cout, std::cerr);
}
#endif
