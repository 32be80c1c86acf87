#include "system/FileSystem.h"

namespace ostrapel {

ComparisonResult CompareFiles(const std::string& a, const std::string& b) {
    // Files of different sizes differ; only files of one size need reading.
    const auto sizeA = SizeOf(a);
    const auto sizeB = SizeOf(b);
    if (sizeA && sizeB && *sizeA != *sizeB) {
        return {Status::Ok(), false};
    }
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
