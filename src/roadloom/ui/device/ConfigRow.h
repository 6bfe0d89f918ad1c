#pragma once

#include "roadcore/ConfigFile.h"
#include "roadcore/ConfigSchema.h"

#include <QString>
#include <QWidget>

#include <optional>

class ConfigStore;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSlider;

// One setting of the device settings form: a control chosen by the kind the schema gives the entry's key
// (a list of named choices, a slider with its value and unit, a check box, or a text field), and under it
// the raw key and the schema's help. It reads and writes the entry's value text in the open document; only
// the user's actions write. The texts are painted and the control is the row's only child, so a form of
// hundreds of rows lays out quickly.
class ConfigRow : public QWidget {
    Q_OBJECT
public:
    ConfigRow(ConfigStore &store, const ConfigFile::Entry &entry, QWidget *parent = nullptr);

    const ConfigFile::Entry &entry() const { return m_entry; }
    ConfigSchema::Kind::Type type() const { return m_kind.type; }
    // The row's title: the schema's, else the key.
    QString title() const { return m_title; }
    // The schema's help text, shown after the key; empty when it has none.
    QString help() const { return m_help; }

    // Shows the document's current value again (after an edit elsewhere, Revert, an import).
    void refresh();
    // The control the user works with (combo box, slider, check box or line edit).
    QWidget *control() const;
    // The slider's value text with its unit; empty for other kinds.
    QString valueLabelText() const { return m_valueText; }

    static QString customLabel(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return !m_help.isEmpty(); }
    int heightForWidth(int width) const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString current() const;
    void write(const QString &text);
    std::optional<QString> customChoice(const QString &text) const;
    void fillChoices(const QString &text);
    void setValueText(const QString &text);
    void placeControl();
    int lineHeight() const;
    int notesHeight(int width) const;
    // Measures the texts and the control again (after a change of font, style or choices).
    void measure();
    QRect notesRect() const;

    ConfigStore &m_store;
    ConfigFile::Entry m_entry;
    ConfigSchema::Kind m_kind;
    QString m_title;
    QString m_help;
    QString m_valueText;
    std::optional<QString> m_custom; // the extra choice shown for a value no option has

    // Measured once: text shaping in every layout pass would cost more than the rest of the form.
    QSize m_controlHint;
    int m_lineHeight = 0;
    int m_titleWidth = 0;
    int m_keyWidth = 0;
    int m_noteLine = 0;
    mutable int m_notesWidth = -1;
    mutable int m_notesHeight = 0;

    QComboBox *m_choice = nullptr;
    QSlider *m_slider = nullptr;
    QCheckBox *m_toggle = nullptr;
    QLineEdit *m_text = nullptr;
};
