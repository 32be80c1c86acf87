// Writes what is made from the text of --help: the manual pages of ostrapel and ostrapel-cli,
// and the bash completion of ostrapel-cli (a template with @OPTIONS@ and @LABELS@ filled in).
//   ostrapel-docs page ostrapel|ostrapel-cli VERSION DATE OUTPUT
//   ostrapel-docs completion TEMPLATE OUTPUT
#include "Manual.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool Write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "Cannot write " << path << '\n';
    }
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "page" &&
        (args[1] == "ostrapel" || args[1] == "ostrapel-cli")) {
        const ostrapel::Manual manual =
            args[1] == "ostrapel" ? ostrapel::WindowManual() : ostrapel::CliManual();
        return Write(args[4], ostrapel::ManualPage(manual, args[2], args[3])) ? 0 : 1;
    }
    if (args.size() == 3 && args[0] == "completion") {
        std::ifstream in(args[1], std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        if (in.bad() || !in.is_open()) {
            std::cerr << "Cannot read " << args[1] << '\n';
            return 1;
        }
        return Write(args[2], ostrapel::Completion(text)) ? 0 : 1;
    }
    std::cerr << "Usage: ostrapel-docs page ostrapel|ostrapel-cli VERSION DATE OUTPUT\n"
                 "       ostrapel-docs completion TEMPLATE OUTPUT\n";
    return 2;
}
