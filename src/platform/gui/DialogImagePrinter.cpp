#include "platform/gui/DialogImagePrinter.h"

#include <QPrintDialog>
#include <QPrinter>

bool DialogImagePrinter::print(const QImage &image, const QString &jobTitle)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(jobTitle);
    QPrintDialog dialog(&printer, m_parent);
    dialog.setWindowTitle(jobTitle);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return paint(printer, image, jobTitle);
}
