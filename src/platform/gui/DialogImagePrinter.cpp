#include "platform/gui/DialogImagePrinter.h"

#include "platform/gui/DialogParent.h"

#include <QPrintDialog>
#include <QPrinter>

bool DialogImagePrinter::print(const QImage &image, const QString &jobTitle)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(jobTitle);
    QPrintDialog dialog(&printer, dialogParent(m_parent));
    dialog.setWindowTitle(jobTitle);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return paint(printer, image, jobTitle);
}
