#pragma once

#include "WindowTexts.h"
#include "Words.h"

#include <QByteArray>
#include <QString>
#include <string>

// The window's texts between the window model's UTF-8 bytes and Qt's strings, for the parts of
// frmMain.

inline QString FromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string ToBytes(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The template's words in the program's language.
inline QString Words(const char* text) {
    return QString::fromUtf8(ostrapel::Tr(text));
}

// The same without its access key mark.
inline QString Plain(const char* text) {
    return QString::fromUtf8(ostrapel::WithoutAccessKey(ostrapel::Tr(text)));
}
