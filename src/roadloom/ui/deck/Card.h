#pragma once

#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class SymbolLabel;

// The titled container of the telemetry panels: an upper-case caption with a symbol, an optional control
// at the trailing end of the header, and the content below, on a rounded, outlined background.
class Card : public QWidget {
    Q_OBJECT
public:
    static constexpr double cornerRadius = 12;
    static constexpr int padding = 10;
    static constexpr int spacing = 8;

    Card(const QString &title, const QString &systemImage, QWidget *parent = nullptr);

    QString title() const { return m_title; }
    // The caption as shown.
    QString caption() const;
    // The control at the end of the header; the card takes it. None: nothing there.
    void setAccessory(QWidget *accessory);
    QWidget *accessory() const { return m_accessory; }
    // The body under the header, given all the room left; the card takes it.
    void setContent(QWidget *content);
    QWidget *content() const { return m_content; }

    // How far the header gives way when the card is too narrow for all of it, each step only when the one
    // before leaves the control short of room: the caption's text goes (the symbol keeps it as a tooltip),
    // then the control takes its compact form, then the symbol goes.
    enum class Header { full, noCaption, compactAccessory, accessoryOnly };
    Header header() const { return m_headerState; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // The palette changed (light to dark): colours worked out from it are due again.
    virtual void paletteChanged() {}
    // Puts the accessory in a form that takes less room, or back.
    virtual void setAccessoryCompact(bool compact) { Q_UNUSED(compact) }
    // Fits the header to the card's width again (after the accessory's size changed).
    void fitHeader();

private:
    void applyColors();
    void applyHeader(Header state);
    int headerWidth(Header state);

    QString m_title;
    SymbolLabel *m_symbol;
    QLabel *m_caption;
    QHBoxLayout *m_header;
    QVBoxLayout *m_column;
    QWidget *m_accessory = nullptr;
    QWidget *m_content = nullptr;
    Header m_headerState = Header::full;
};
