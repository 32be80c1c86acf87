#pragma once

#include <string_view>
#include <vector>

namespace ostrapel {

// A catalogue built into the program from po/LANG.po: its language and its .mo bytes.
struct EmbeddedCatalogue {
    std::string_view language;
    std::string_view mo;
};

// Every catalogue built in, by language name (generated at build time).
const std::vector<EmbeddedCatalogue>& EmbeddedCatalogues();

} // namespace ostrapel
