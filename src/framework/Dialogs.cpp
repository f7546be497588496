#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QMessageBox>
#include <QStringList>

QString QtFileFilter(const QString& Filter)
{
    const QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(';', ' '));
    return filters.join(QStringLiteral(";;"));
}

QStringList FilterExtensions(const QString& QtFilter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    QStringList extensions;
    for (auto match = pattern.globalMatch(QtFilter); match.hasNext();)
        extensions << match.next().captured(1);
    return extensions;
}

namespace {

class TQtDialogs : public TDialogs {
public:
    QString OpenFileName(QWidget* Parent, const TFileDialog& Dialog,
                         const QString& Folder) override
    {
        return QFileDialog::getOpenFileName(Parent, Dialog.Title, Folder,
                                            QtFileFilter(Dialog.Filter));
    }

    QString SaveFileName(QWidget* Parent, const TFileDialog& Dialog,
                         const QString& Initial) override
    {
        QFileDialog dialog(Parent, Dialog.Title, Initial, QtFileFilter(Dialog.Filter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(Dialog.DefaultExt);
        // The filter of the initial name's extension is chosen first; the
        // chosen filter supplies the extension of a name typed without one.
        const QString initialExtension = QFileInfo(Initial).suffix();
        for (const QString& filter : dialog.nameFilters())
            if (FilterExtensions(filter).contains(initialExtension, Qt::CaseInsensitive)) {
                dialog.selectNameFilter(filter);
                dialog.setDefaultSuffix(FilterExtensions(filter).constFirst());
                break;
            }
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString& Filter) {
                             const QStringList extensions = FilterExtensions(Filter);
                             if (!extensions.isEmpty())
                                 dialog.setDefaultSuffix(extensions.constFirst());
                         });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    void ShowError(QWidget* Parent, const QString& Message) override
    {
        QMessageBox::critical(Parent ? Parent : QApplication::activeWindow(),
                              QApplication::applicationDisplayName(), Message);
    }

    bool Ask(QWidget* Parent, const QString& Question) override
    {
        return QMessageBox::question(Parent ? Parent : QApplication::activeWindow(),
                                     QApplication::applicationDisplayName(),
                                     Question) == QMessageBox::Yes;
    }
};

TQtDialogs QtDialogs;
TDialogs* Current = &QtDialogs;

} // namespace

TDialogs& Dialogs()
{
    return *Current;
}

void SetDialogs(TDialogs* Replacement)
{
    Current = Replacement ? Replacement : &QtDialogs;
}
