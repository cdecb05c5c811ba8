#include "gui/Chinese.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace brenvik {

bool InstallChineseTranslations(QCoreApplication& app) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // Number and date formats follow the same language as the texts.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    bool base = false;
    for (const char* catalogue : {"qtbase_zh_CN", "qtwebengine_zh_CN"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QString::fromLatin1(catalogue), folder)) {
            app.installTranslator(translator);
            base = base || QByteArray(catalogue).startsWith("qtbase");
        } else {
            delete translator;
        }
    }
    return base;
}

}  // namespace brenvik
