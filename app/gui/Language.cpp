#include "Language.h"

#include "Words.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>
#include <vector>

namespace language {

std::string ChooseFromArguments(int& argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::string chosen = ostrapel::TakeLanguageOption(arguments);
    // What is left keeps its order: each argument of argv[1..] that stays moves forward.
    int kept = 1;
    for (int i = 1; i < argc && static_cast<std::size_t>(kept - 1) < arguments.size(); ++i) {
        if (arguments[static_cast<std::size_t>(kept - 1)] == argv[i]) {
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
