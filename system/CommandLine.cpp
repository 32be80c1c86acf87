#include "system/Process.h"

#include <cctype>

namespace ostrapel {

namespace {

// Length of a leading "/switch:" (a slash, letters, a colon), or 0.
std::size_t SwitchPrefixLength(const std::string& argument) {
    if (argument.size() < 3 || argument[0] != '/') {
        return 0;
    }
    std::size_t i = 1;
    while (i < argument.size() && std::isalpha(static_cast<unsigned char>(argument[i])) != 0) {
        ++i;
    }
    return (i > 1 && i < argument.size() && argument[i] == ':') ? i + 1 : 0;
}

// Appends text inside double quotes, escaped so the C runtime reads it back unchanged:
// backslashes are doubled only where they precede a quote, and quotes get a backslash.
void AppendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    out.push_back('"');
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::optional<std::string> BuildWindowsCommandLine(const CommandLine& command) {
    if (command.line) {
        return command.line->find('\0') == std::string::npos ? command.line : std::nullopt;
    }
    if (command.program.find('"') != std::string::npos ||
        command.program.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    std::string line = "\"" + command.program + "\"";
    for (const std::string& argument : command.arguments) {
        if (argument.find('\0') != std::string::npos) {
            return std::nullopt;
        }
        std::size_t prefix = SwitchPrefixLength(argument);
        line.push_back(' ');
        line.append(argument, 0, prefix);
        AppendQuoted(line, std::string_view(argument).substr(prefix));
    }
    line.push_back(' ');
    return line;
}

CommandLine ParseWindowsCommandLine(const std::string& text) {
    CommandLine command;
    std::size_t i = 0;
    const std::size_t n = text.size();

    // The program name: quotes group, backslashes are plain characters.
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(text[i]))) {
        if (text[i] == '"') {
            quoted = !quoted;
        } else {
            command.program.push_back(text[i]);
        }
        ++i;
    }

    for (;;) {
        while (i < n && IsBlank(text[i])) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        std::string argument;
        quoted = false;
        while (i < n && (quoted || !IsBlank(text[i]))) {
            if (text[i] == '\\') {
                std::size_t backslashes = 0;
                while (i < n && text[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < n && text[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument.push_back('"');
                        ++i;
                    }
                } else {
                    argument.append(backslashes, '\\');
                }
                continue;
            }
            if (text[i] == '"') {
                if (quoted && i + 1 < n && text[i + 1] == '"') {
                    argument.push_back('"'); // "" inside quotes is one quote
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            argument.push_back(text[i]);
            ++i;
        }
        command.arguments.push_back(std::move(argument));
    }
    return command;
}

} // namespace ostrapel
