#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QHBoxLayout;
class QPushButton;
class SymbolLabel;

// The page shown where there is nothing to show: a symbol, a title, a description and optional buttons,
// centred in the space it is given.
class ContentUnavailableWidget : public QWidget {
    Q_OBJECT
public:
    explicit ContentUnavailableWidget(QWidget *parent = nullptr);
    ContentUnavailableWidget(const QString &symbol, const QString &title,
                             const QString &description = QString(), QWidget *parent = nullptr);

    // The page of a search that found nothing: "No Results for “text”".
    static QString searchTitle(const QString &text);
    static QString searchDescription();
    void showSearch(const QString &text);

    QString symbol() const;
    void setSymbol(const QString &symbol);
    QString title() const;
    void setTitle(const QString &title);
    QString description() const;
    void setDescription(const QString &description);

    // A button under the description, in the order added; the first one added is the default.
    QPushButton *addButton(const QString &text);
    void clearButtons();

    QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyColors();
    void fitTexts();
    void fitParts();

    SymbolLabel *m_symbol;
    QLabel *m_title;
    QLabel *m_description;
    QWidget *m_buttonRow;
    QHBoxLayout *m_buttons;
};
