#pragma once

#include "platform/gui/ImagePrinter.h"

class QWidget;

// Prints through the print dialog, over the given window when there is one.
class DialogImagePrinter final : public ImagePrinter {
public:
    explicit DialogImagePrinter(QWidget *parent = nullptr) : m_parent(parent) {}

    bool print(const QImage &image, const QString &jobTitle) override;

private:
    QWidget *m_parent; // not owned; must outlive the object
};
