#include "system/FileSystem.h"

namespace ostrapel {

ComparisonResult CompareFiles(const std::string& a, const std::string& b) {
    std::string first;
    std::string second;
    if (Status read = ReadWholeFile(a, first); !read) {
        return {read, false};
    }
    if (Status read = ReadWholeFile(b, second); !read) {
        return {read, false};
    }
    return {Status::Ok(), first == second};
}

} // namespace ostrapel
