#include "gui/Chinese.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace brenvik {
namespace {

// The file list's columns, as Qt's file model numbers them.
constexpr int kTypeColumn = 2;
constexpr int kDateColumn = 3;

class ChineseFileColumns : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files) {
            return QIdentityProxyModel::data(index, role);
        }
        const QModelIndex source = mapToSource(index);
        if (index.column() == kTypeColumn && files->isDir(source)) {
            return QStringLiteral("文件夹");
        }
        if (index.column() == kDateColumn) {
            return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

}  // namespace

void SpeakChinese(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new ChineseFileColumns(&dialog));
}

QString ChooseFolder(QWidget* parent, const QString& caption, const QString& start) {
    QFileDialog dialog(parent, caption, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    SpeakChinese(dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QString ChooseSaveFile(QWidget* parent, const QString& filter, const QString& start) {
    QFileDialog dialog(parent, QString(), start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    SpeakChinese(dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

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
