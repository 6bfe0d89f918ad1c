#pragma once

#include "roadcore/ConfigFile.h"
#include "roadcore/ConfigSchema.h"

#include <QString>
#include <QWidget>

#include <optional>

class ConfigStore;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;

// One setting of the device settings form: a control chosen by the kind the schema gives the entry's key
// (a list of named choices, a slider with its value and unit, a check box, or a text field), and under it
// the raw key and the schema's help. It reads and writes the entry's value text in the open document; only
// the user's actions write.
class ConfigRow : public QWidget {
    Q_OBJECT
public:
    ConfigRow(ConfigStore &store, const ConfigFile::Entry &entry, QWidget *parent = nullptr);

    const ConfigFile::Entry &entry() const { return m_entry; }
    ConfigSchema::Kind::Type type() const { return m_kind.type; }
    QString title() const { return m_title; }

    // Shows the document's current value again (after an edit elsewhere, Revert, an import).
    void refresh();
    // The control the user works with (combo box, slider, check box or line edit).
    QWidget *control() const;
    // The slider's value text with its unit; empty for other kinds.
    QString valueLabelText() const;

    static QString customLabel(const QString &text);

protected:
    void changeEvent(QEvent *event) override;

private:
    QString current() const;
    void write(const QString &text);
    void applyColors();
    std::optional<QString> customChoice(const QString &text) const;
    void fillChoices(const QString &text);

    ConfigStore &m_store;
    ConfigFile::Entry m_entry;
    ConfigSchema::Kind m_kind;
    QString m_title;
    std::optional<QString> m_custom; // the extra choice shown for a value no option has

    QComboBox *m_choice = nullptr;
    QSlider *m_slider = nullptr;
    QLabel *m_value = nullptr;
    QCheckBox *m_toggle = nullptr;
    QLineEdit *m_text = nullptr;
    QLabel *m_key = nullptr;
    QLabel *m_help = nullptr;
};
