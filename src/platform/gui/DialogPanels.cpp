#include "platform/gui/DialogPanels.h"

#include "platform/gui/DialogParent.h"

#include <QFileDialog>

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

std::optional<QString> DialogPanels::save(const QString &name, const QString &mimeType)
{
    QFileDialog dialog(dialogParent(m_parent));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setMimeTypeFilters({mimeType});
    dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QStringList DialogPanels::openFiles(const QStringList &mimeTypes)
{
    QFileDialog dialog(dialogParent(m_parent));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setMimeTypeFilters(mimeTypes);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}
