#pragma once

#include <QList>
#include <string>

class QCoreApplication;
class QTranslator;

namespace language {

// Chooses the program's language once, before the application and any thread start:
// "--language TAG" (or "--language=TAG") taken out of the arguments when given, else the
// platform's preference. Gives the catalogue's name, "" for English.
std::string ChooseFromArguments(int& argc, char** argv);

// Qt's own translations (its dialogs' and buttons' words) for the program's language, installed
// into application: qtbase_LANG, and qt_LANG where there is one, from Qt's translations folder.
// The translators installed, owned by application; none for English or where Qt has none.
QList<QTranslator*> LoadQtTranslations(QCoreApplication& application);

} // namespace language
