#include "platform/gui/MessageAlerts.h"

#include "platform/gui/DialogParent.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

int MessageAlerts::run(const Alert &alert)
{
    QMessageBox box(dialogParent(m_parent));
    switch (alert.style) {
    case Alert::Style::informational:
        box.setIcon(QMessageBox::Information);
        break;
    case Alert::Style::warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Alert::Style::critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    QList<QAbstractButton *> buttons;
    for (qsizetype i = 0; i < alert.buttons.size(); ++i) {
        const QString &text = alert.buttons.at(i);
        const bool cancel = i > 0 && i == alert.buttons.size() - 1 && text == QStringLiteral("Cancel");
        QPushButton *button = box.addButton(text, cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        if (i == alert.defaultButton)
            box.setDefaultButton(button);
        if (cancel)
            box.setEscapeButton(button);
        buttons.append(button);
    }
    box.exec();
    return static_cast<int>(buttons.indexOf(box.clickedButton()));
}
