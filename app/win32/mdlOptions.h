#pragma once

#include <string>
#include <vector>

// The program's options, read from its command line before the window is made.
namespace mdlOptions {

// The arguments after the program's name, as Windows splits its command line.
std::vector<std::wstring> Arguments();

// Takes "--language TAG" or "--language=TAG" out of arguments and gives TAG (UTF-8), the last
// one when given twice; empty when none is. A "--language" without its tag stays in arguments.
std::string TakeLanguage(std::vector<std::wstring>& arguments);

// Chooses the program's language once, before any thread reads its words: the one chosen with
// --language, else the one the user prefers. Takes the option out of arguments.
void ChooseLanguage(std::vector<std::wstring>& arguments);

} // namespace mdlOptions
