#include "Language.h"

#include "Words.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>
#include <cstring>
#include <string_view>

namespace language {

std::string ChooseFromArguments(int& argc, char** argv) {
    std::string chosen;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--language" && i + 1 < argc) {
            chosen = argv[++i];
        } else if (argument.starts_with("--language=")) {
            chosen = argument.substr(std::strlen("--language="));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return ostrapel::UseLanguage(chosen);
}

QList<QTranslator*> LoadQtTranslations(QCoreApplication& application) {
    QList<QTranslator*> loaded;
    const std::string language = ostrapel::CurrentLanguage();
    if (language.empty() || language == ostrapel::kPseudoLanguage) {
        return loaded;
    }
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* module : {"qtbase_", "qt_"}) {
        auto* translator = new QTranslator(&application);
        const QString name = QString::fromLatin1(module) + QString::fromStdString(language);
        if (translator->load(name, folder)) {
            QCoreApplication::installTranslator(translator);
            loaded << translator;
        } else {
            delete translator;
        }
    }
    return loaded;
}

} // namespace language
