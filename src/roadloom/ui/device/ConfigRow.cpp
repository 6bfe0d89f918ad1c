#include "roadloom/ui/device/ConfigRow.h"

#include "roadloom/model/ConfigRowValue.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>

namespace {

constexpr int valueWidth = 84;  // the slider's value and unit
constexpr int spacing = 8;      // between the title, the control and the value
constexpr int notesSpacing = 6; // between the key and the help
constexpr int lineSpacing = 2;  // between the control's line and the notes
constexpr int textFieldMinimum = 180;

// The fonts of the notes line, made once: every row uses the same.
const QFont &keyFont()
{
    static const QFont font = [] {
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        const QFont caption = TextStyles::caption2();
        if (caption.pointSizeF() > 0)
            mono.setPointSizeF(caption.pointSizeF());
        else
            mono.setPixelSize(caption.pixelSize());
        return mono;
    }();
    return font;
}

const QFont &helpFont()
{
    static const QFont font = TextStyles::caption2();
    return font;
}

} // namespace

ConfigRow::ConfigRow(ConfigStore &store, const ConfigFile::Entry &entry, QWidget *parent)
    : QWidget(parent), m_store(store), m_entry(entry)
{
    const std::optional<ConfigSchema::Field> field = ConfigSchema::field(entry.key);
    m_kind = field ? field->kind : ConfigSchema::Kind::text();
    m_title = field ? field->title : entry.key;
    m_help = field && field->help ? *field->help : QString();
    const QString text = current();

    switch (m_kind.type) {
    case ConfigSchema::Kind::Type::choice:
        m_choice = new QComboBox(this);
        fillChoices(text);
        connect(m_choice, &QComboBox::activated, this,
                [this](int index) { write(m_choice->itemData(index).toString()); });
        break;
    case ConfigSchema::Kind::Type::range:
        m_slider = new QSlider(Qt::Horizontal, this);
        m_slider->setRange(0, ConfigRowValue::positions(m_kind));
        m_slider->setPageStep(std::max(1, m_slider->maximum() / 10));
        m_slider->setValue(ConfigRowValue::position(m_kind, text));
        m_valueText = ConfigRowValue::withUnit(text, m_kind.unit);
        // Written from the position alone, never a sum of steps, in the form the file had.
        connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
            write(ConfigRowValue::format(ConfigRowValue::valueAt(m_kind, position), current(), m_kind.step));
        });
        break;
    case ConfigSchema::Kind::Type::toggle:
        m_toggle = new QCheckBox(m_title, this);
        m_toggle->setChecked(ConfigRowValue::isOn(text));
        connect(m_toggle, &QCheckBox::clicked, this,
                [this](bool on) { write(ConfigRowValue::toggleText(on)); });
        break;
    case ConfigSchema::Kind::Type::text:
        m_text = new QLineEdit(text, this);
        connect(m_text, &QLineEdit::textEdited, this, [this](const QString &edited) {
            // A pasted line break would reach the file; the field shows what will be written.
            const QString single = ConfigFile::singleLine(edited);
            if (single != edited) {
                const int at = m_text->cursorPosition();
                const QSignalBlocker block(m_text);
                m_text->setText(single);
                m_text->setCursorPosition(at);
            }
            write(single);
        });
        break;
    }
    control()->setAccessibleName(m_title);
    setFocusProxy(control());
    if (m_choice || m_slider) {
        // Scrolling the form over a list or a slider must not change a setting.
        control()->setFocusPolicy(Qt::StrongFocus);
        control()->installEventFilter(this);
    }
    measure();
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    if (hasHeightForWidth()) {
        QSizePolicy policy = sizePolicy();
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
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
    if (m_custom) {
        // Sized to the custom text too; asked only here, since it builds the list's popup at once.
        m_choice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        m_choice->addItem(customLabel(*m_custom), *m_custom);
    }
    m_choice->setCurrentIndex(m_choice->findData(text));
}

void ConfigRow::setValueText(const QString &text)
{
    if (m_valueText == text)
        return;
    m_valueText = text;
    update(QRect(width() - valueWidth, 0, valueWidth, lineHeight()));
}

void ConfigRow::refresh()
{
    const QString text = current();
    if (m_choice) {
        const QSignalBlocker block(m_choice);
        if (customChoice(text) != m_custom) {
            fillChoices(text);
            measure(); // the custom item may change the box's width
            updateGeometry();
            placeControl();
        } else if (m_choice->currentData().toString() != text) {
            m_choice->setCurrentIndex(m_choice->findData(text));
        }
    } else if (m_slider) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(ConfigRowValue::position(m_kind, text));
        setValueText(ConfigRowValue::withUnit(text, m_kind.unit));
    } else if (m_toggle) {
        const QSignalBlocker block(m_toggle);
        m_toggle->setChecked(ConfigRowValue::isOn(text));
    } else if (m_text->text() != text) {
        // Only a change from elsewhere reaches here: typing already shows its own text.
        const QSignalBlocker block(m_text);
        m_text->setText(text);
    }
}

void ConfigRow::measure()
{
    m_controlHint = control()->sizeHint();
    m_lineHeight = std::max(m_controlHint.height(), fontMetrics().height());
    m_titleWidth = m_toggle ? 0 : fontMetrics().horizontalAdvance(m_title);
    m_keyWidth = QFontMetrics(keyFont()).horizontalAdvance(m_entry.key);
    // Room below the line for the underscores of keys, which some fixed fonts draw under their descent.
    m_noteLine = std::max(QFontMetrics(keyFont()).height(), QFontMetrics(helpFont()).height()) + 2;
    m_notesWidth = -1;
}

int ConfigRow::lineHeight() const
{
    return m_lineHeight;
}

int ConfigRow::notesHeight(int width) const
{
    if (m_help.isEmpty())
        return m_noteLine;
    if (width != m_notesWidth) {
        const int helpWidth = std::max(40, width - m_keyWidth - notesSpacing);
        const QRect help =
            QFontMetrics(helpFont()).boundingRect(QRect(0, 0, helpWidth, 10000), Qt::TextWordWrap, m_help);
        m_notesWidth = width;
        m_notesHeight = std::max(m_noteLine, help.height());
    }
    return m_notesHeight;
}

QRect ConfigRow::notesRect() const
{
    const int top = lineHeight() + lineSpacing;
    return QRect(0, top, width(), height() - top);
}

QSize ConfigRow::sizeHint() const
{
    int width = m_controlHint.width();
    if (!m_toggle)
        width += m_titleWidth + spacing;
    if (m_slider)
        width += valueWidth + spacing;
    width = std::max(width, m_keyWidth);
    return QSize(width, lineHeight() + lineSpacing + notesHeight(std::max(width, 400)));
}

QSize ConfigRow::minimumSizeHint() const
{
    int width = m_toggle ? m_controlHint.width() : std::min(m_controlHint.width(), 80);
    if (m_slider)
        width = 140 + spacing + valueWidth;
    if (m_text)
        width = textFieldMinimum;
    return QSize(width, lineHeight() + lineSpacing + notesHeight(std::max(width, 200)));
}

int ConfigRow::heightForWidth(int width) const
{
    return lineHeight() + lineSpacing + notesHeight(width);
}

void ConfigRow::placeControl()
{
    const int line = lineHeight();
    QWidget *widget = control();
    const QSize hint = m_controlHint;
    const int titleWidth = m_titleWidth;
    QRect box;
    if (m_toggle) {
        box = QRect(0, 0, std::min(width(), hint.width()), hint.height());
    } else if (m_slider) {
        const int available = width() - valueWidth - spacing - titleWidth - spacing;
        const int sliderWidth = std::clamp(available, 140, 220);
        box = QRect(width() - valueWidth - spacing - sliderWidth, 0, sliderWidth, hint.height());
    } else if (m_text) {
        // Half the row, more when the title is short, never over the title.
        const int left = std::max(std::min(titleWidth + spacing, width() / 2), width() - 360);
        box = QRect(std::min(left, width() - textFieldMinimum), 0, 0, hint.height());
        box.setRight(width() - 1);
    } else {
        const int boxWidth = std::min(hint.width(), std::max(80, width() - titleWidth - spacing));
        box = QRect(width() - boxWidth, 0, boxWidth, hint.height());
    }
    box.moveTop((line - box.height()) / 2);
    widget->setGeometry(box);
}

void ConfigRow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeControl();
}

void ConfigRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPalette pal = palette();
    const int line = lineHeight();
    if (!m_toggle) {
        painter.setPen(pal.color(QPalette::WindowText));
        const int right = control()->geometry().left() - spacing;
        const QString title = fontMetrics().elidedText(m_title, Qt::ElideRight, std::max(0, right));
        painter.drawText(QRect(0, 0, std::max(0, right), line), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
    if (m_slider) {
        // Digits of this font share one width, so values of the same length line up.
        painter.setPen(pal.color(QPalette::WindowText));
        painter.drawText(QRect(width() - valueWidth, 0, valueWidth, line), Qt::AlignRight | Qt::AlignVCenter,
                         fontMetrics().elidedText(m_valueText, Qt::ElideLeft, valueWidth));
    }
    const QRect notes = notesRect();
    painter.setFont(keyFont());
    painter.setPen(Palette::tertiaryText(pal));
    const int keyWidth = m_keyWidth;
    painter.drawText(QRect(notes.left(), notes.top(), keyWidth + 1, m_noteLine), Qt::AlignLeft | Qt::AlignTop,
                     m_entry.key);
    if (!m_help.isEmpty()) {
        painter.setFont(helpFont());
        painter.setPen(Palette::secondaryText(pal));
        const QRect help(notes.left() + keyWidth + notesSpacing, notes.top(),
                         std::max(40, notes.width() - keyWidth - notesSpacing), notes.height());
        painter.drawText(help, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_help);
    }
}

bool ConfigRow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && watched == control() && !control()->hasFocus()) {
        event->ignore(); // goes on to the scroll area
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ConfigRow::mousePressEvent(QMouseEvent *event)
{
    // A click on the title goes to the control, as on a label that names it.
    if (event->position().y() < lineHeight() && !m_toggle)
        control()->setFocus(Qt::MouseFocusReason);
    QWidget::mousePressEvent(event);
}

void ConfigRow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        update();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        measure();
        updateGeometry();
        placeControl();
    }
}
