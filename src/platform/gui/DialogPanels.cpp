#include "platform/gui/DialogPanels.h"

#include "platform/gui/DialogParent.h"

#include <QFileDialog>
#include <QMimeDatabase>
#include <QRegularExpression>

namespace {

QStringList nameFilters(const QStringList &types)
{
    QStringList filters;
    for (const QString &type : types)
        if (QString filter = DialogPanels::nameFilter(type); !filter.isEmpty())
            filters.append(filter);
    return filters;
}

// "cfg" for a type whose first pattern is "*.cfg", so a name typed without one gets it.
QString defaultSuffix(const QString &type)
{
    const QString filter = DialogPanels::nameFilter(type);
    static const QRegularExpression firstPattern(QStringLiteral("\\(\\*\\.([^ *?\\[\\]()]+)[ )]"));
    return firstPattern.match(filter).captured(1);
}

} // namespace

QString DialogPanels::nameFilter(const QString &type)
{
    if (type.contains(QLatin1Char('(')))
        return type;
    const QMimeType mime = QMimeDatabase().mimeTypeForName(type);
    return mime.isValid() ? mime.filterString() : QString();
}

std::optional<QString> DialogPanels::chooseFolder(const QString &title, const QString &prompt)
{
    QFileDialog dialog(dialogParent(m_parent), title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> DialogPanels::chooseFile(const QString &title, const QString &prompt)
{
    QFileDialog dialog(dialogParent(m_parent), title);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> DialogPanels::save(const QString &name, const QString &type)
{
    QFileDialog dialog(dialogParent(m_parent));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (const QStringList filters = nameFilters({type}); !filters.isEmpty())
        dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(defaultSuffix(type));
    dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QStringList DialogPanels::openFiles(const QStringList &types)
{
    QFileDialog dialog(dialogParent(m_parent));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (const QStringList filters = nameFilters(types); !filters.isEmpty())
        dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}
