#include "platform/gui/MessageAlerts.h"

#include "platform/gui/DialogParent.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

int MessageAlerts::run(const Alert &alert, QWidget *window)
{
    QMessageBox box(dialogParent(window ? window : m_parent));
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
    // The box takes its width from the title alone and wraps the explanation into that: a short sentence
    // under a short title came out on four lines.
    if (auto *informative = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
        int widest = 0;
        const QFontMetrics metrics(informative->font());
        for (QStringView line : QStringView(alert.informativeText).tokenize(u'\n'))
            widest = std::max(widest, metrics.horizontalAdvance(line.toString()));
        // The selectable label lays its text out in a document, with a margin on each side.
        informative->setMinimumWidth(std::min(widest + 12, widestText));
    }
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
