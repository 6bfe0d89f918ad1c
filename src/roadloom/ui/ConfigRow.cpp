#include "roadloom/ui/ConfigRow.h"

#include "roadloom/model/ConfigRowValue.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/Palette.h"
#include "roadloom/ui/TextStyles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int valueWidth = 84;

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    widget->setPalette(p);
}

} // namespace

ConfigRow::ConfigRow(ConfigStore &store, const ConfigFile::Entry &entry, QWidget *parent)
    : QWidget(parent), m_store(store), m_entry(entry)
{
    const std::optional<ConfigSchema::Field> field = ConfigSchema::field(entry.key);
    m_kind = field ? field->kind : ConfigSchema::Kind::text();
    m_title = field ? field->title : entry.key;
    const QString text = current();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto *line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    column->addLayout(line);

    QLabel *title = nullptr;
    if (m_kind.type != ConfigSchema::Kind::Type::toggle) {
        title = plainLabel(m_title, this);
        line->addWidget(title, 1);
    }
    switch (m_kind.type) {
    case ConfigSchema::Kind::Type::choice:
        m_choice = new QComboBox(this);
        m_choice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        fillChoices(text);
        line->addWidget(m_choice);
        connect(m_choice, &QComboBox::activated, this,
                [this](int index) { write(m_choice->itemData(index).toString()); });
        break;
    case ConfigSchema::Kind::Type::range:
        m_slider = new QSlider(Qt::Horizontal, this);
        m_slider->setRange(0, ConfigRowValue::positions(m_kind));
        m_slider->setPageStep(std::max(1, m_slider->maximum() / 10));
        m_slider->setMinimumWidth(140);
        m_slider->setMaximumWidth(220);
        m_slider->setValue(ConfigRowValue::position(m_kind, text));
        m_value = plainLabel(ConfigRowValue::withUnit(text, m_kind.unit), this);
        m_value->setFixedWidth(valueWidth);
        m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        line->addWidget(m_slider, 1);
        line->addWidget(m_value);
        // Written from the position alone, never a sum of steps, in the form the file had.
        connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
            write(ConfigRowValue::format(ConfigRowValue::valueAt(m_kind, position), current(), m_kind.step));
        });
        break;
    case ConfigSchema::Kind::Type::toggle:
        m_toggle = new QCheckBox(m_title, this);
        m_toggle->setChecked(ConfigRowValue::isOn(text));
        line->addWidget(m_toggle, 1);
        connect(m_toggle, &QCheckBox::clicked, this,
                [this](bool on) { write(ConfigRowValue::toggleText(on)); });
        break;
    case ConfigSchema::Kind::Type::text:
        m_text = new QLineEdit(text, this);
        m_text->setMinimumWidth(180);
        line->addWidget(m_text, 1);
        connect(m_text, &QLineEdit::textEdited, this, [this](const QString &edited) { write(edited); });
        break;
    }
    if (title)
        title->setBuddy(control());

    auto *notes = new QHBoxLayout;
    notes->setContentsMargins(0, 0, 0, 0);
    notes->setSpacing(6);
    m_key = plainLabel(entry.key, this);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFont caption = TextStyles::caption2();
    if (caption.pointSizeF() > 0)
        mono.setPointSizeF(caption.pointSizeF());
    else
        mono.setPixelSize(caption.pixelSize());
    m_key->setFont(mono);
    m_key->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notes->addWidget(m_key, 0, Qt::AlignVCenter);
    if (field && field->help) {
        m_help = plainLabel(*field->help, this);
        m_help->setFont(caption);
        m_help->setWordWrap(true);
        notes->addWidget(m_help, 1, Qt::AlignVCenter);
    } else {
        notes->addStretch(1);
    }
    column->addLayout(notes);
    applyColors();
}

QString ConfigRow::current() const
{
    return m_store.value(m_entry);
}

void ConfigRow::write(const QString &text)
{
    if (text == current())
        return;
    m_store.setValue(m_entry, text);
}

QWidget *ConfigRow::control() const
{
    if (m_choice)
        return m_choice;
    if (m_slider)
        return m_slider;
    if (m_toggle)
        return m_toggle;
    return m_text;
}

QString ConfigRow::valueLabelText() const
{
    return m_value ? m_value->text() : QString();
}

QString ConfigRow::customLabel(const QString &text)
{
    return QStringLiteral("Custom (") + text + QLatin1Char(')');
}

std::optional<QString> ConfigRow::customChoice(const QString &text) const
{
    for (const ConfigSchema::Option &option : std::as_const(m_kind.options))
        if (option.value == text)
            return std::nullopt;
    return text;
}

void ConfigRow::fillChoices(const QString &text)
{
    // The file's value is always shown, even one no option has.
    const std::optional<QString> custom = customChoice(text);
    if (m_choice->count() == 0) {
        for (const ConfigSchema::Option &option : std::as_const(m_kind.options))
            m_choice->addItem(option.label, option.value);
    } else if (m_custom) {
        m_choice->removeItem(m_choice->count() - 1);
    }
    m_custom = custom;
    if (m_custom)
        m_choice->addItem(customLabel(*m_custom), *m_custom);
    m_choice->setCurrentIndex(m_choice->findData(text));
}

void ConfigRow::refresh()
{
    const QString text = current();
    if (m_choice) {
        const QSignalBlocker block(m_choice);
        if (customChoice(text) != m_custom)
            fillChoices(text);
        else if (m_choice->currentData().toString() != text)
            m_choice->setCurrentIndex(m_choice->findData(text));
    } else if (m_slider) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(ConfigRowValue::position(m_kind, text));
        m_value->setText(ConfigRowValue::withUnit(text, m_kind.unit));
    } else if (m_toggle) {
        const QSignalBlocker block(m_toggle);
        m_toggle->setChecked(ConfigRowValue::isOn(text));
    } else if (m_text->text() != text) {
        // Only a change from elsewhere reaches here: typing already shows its own text.
        const QSignalBlocker block(m_text);
        m_text->setText(text);
    }
}

void ConfigRow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void ConfigRow::applyColors()
{
    setTextColor(m_key, Palette::tertiaryText(palette()));
    if (m_help)
        setTextColor(m_help, Palette::secondaryText(palette()));
}
