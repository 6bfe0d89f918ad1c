#include "roadloom/ui/device/DeviceSettingsWindow.h"

#include "platform/Alerts.h"
#include "platform/Panels.h"
#include "platform/StandardFolders.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/ConfigGroup.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/device/ConfigGroupRows.h"
#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"
#include "roadloom/ui/widgets/FirstGeometry.h"
#include "roadloom/ui/widgets/FormSection.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/Symbols.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// The filled button of a page's main action: the accent colour while enabled, the usual grey when not.
void makeProminent(QPushButton *button)
{
    QPalette p = button->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Button, Palette::accent(p));
        p.setColor(group, QPalette::ButtonText, p.color(group, QPalette::HighlightedText));
    }
    button->setPalette(p);
}

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// The entries without their values: what the form's rows stand for.
QList<ConfigFile::Entry> shapeOf(const std::optional<ConfigFile> &file)
{
    QList<ConfigFile::Entry> shape;
    if (!file)
        return shape;
    shape = file->entries();
    for (ConfigFile::Entry &entry : shape)
        entry.value.clear();
    return shape;
}

} // namespace

DeviceSettingsWindow::DeviceSettingsWindow(AppModel &model, QWidget *parent)
    : QMainWindow(parent), m_model(model), m_config(model.config())
{
    setObjectName(QStringLiteral("device-settings"));
    setMinimumSize(560, 480);
    // The form scrolls: on a small screen the whole window shows rather than its minimum size.
    (new FirstGeometry(*this, firstSize, FirstGeometry::Minimum::yields))->place();

    m_pages = new QStackedWidget(this);
    setCentralWidget(m_pages);
    buildPicker();

    m_editor = new QStackedWidget(m_pages);
    m_form = new QScrollArea(m_editor);
    m_form->setWidgetResizable(true);
    m_form->setFrameShape(QFrame::NoFrame);
    m_form->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_raw = new QPlainTextEdit(m_editor);
    m_raw->setReadOnly(true);
    m_raw->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_raw->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_raw->setFrameShape(QFrame::NoFrame);
    m_raw->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_raw->setObjectName(QStringLiteral("raw"));
    m_raw->document()->setDocumentMargin(12);
    m_editor->addWidget(m_form);
    m_editor->addWidget(m_raw);
    m_pages->addWidget(m_editor);

    buildToolBar();

    connect(&m_config, &ConfigStore::urlChanged, this, [this] { urlChanged(); });
    connect(&m_config, &ConfigStore::fileChanged, this, [this] { documentChanged(); });
    connect(&m_config, &ConfigStore::isDirtyChanged, this, [this] { updateDirty(); });
    connect(&m_config, &ConfigStore::isSavingChanged, this, [this] { updateDirty(); });
    connect(&m_config, &ConfigStore::messageChanged, this, [this](const QString &message) {
        if (!message.isEmpty())
            queueMessage();
    });
    connect(&m_model.library(), &LibraryStore::devicesChanged, this, [this] { rebuildPicker(); });
    connect(&m_model.library(), &LibraryStore::availabilityRevisionChanged, this,
            [this] { rebuildPicker(); });
    // Unsaved edits are this window's: the question before they are dropped (a quit, another file opened
    // from the main window) sits over it while it is open.
    model.setConfigWindow([window = QPointer<QWidget>(this)]() -> QWidget * {
        return window && window->isVisible() ? window.data() : nullptr;
    });

    rebuildPicker();
    updateTitle();
    documentChanged();
    updateDirty();
}

QString DeviceSettingsWindow::baseTitle()
{
    return QStringLiteral("Device Settings");
}

QString DeviceSettingsWindow::cameraFileType()
{
    return QStringLiteral("Camera settings (*.cfg *.CFG)");
}

QStringList DeviceSettingsWindow::fileTypes()
{
    return {cameraFileType(), QStringLiteral("text/plain")};
}

QString DeviceSettingsWindow::footerText()
{
    QString folder = QDir::cleanPath(StandardFolders::configBackups());
    const QString home = QDir::cleanPath(QDir::homePath());
    if (home != QStringLiteral("/") && (folder == home || folder.startsWith(home + QLatin1Char('/'))))
        folder = QLatin1Char('~') + folder.mid(home.size());
    return QStringLiteral(
               "Changes are written when you click Save to Card. The previous file is backed up to ") +
           folder + QLatin1Char('.');
}

void DeviceSettingsWindow::buildToolBar()
{
    m_toolBar = new QToolBar(QStringLiteral("Configuration"), this);
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->toggleViewAction()->setVisible(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    QAction *close =
        m_toolBar->addAction(Symbols::icon(QStringLiteral("xmark")), QStringLiteral("Close File"));
    close->setToolTip(QStringLiteral("Close File"));
    connect(close, &QAction::triggered, this, &DeviceSettingsWindow::closeFile);

    m_filterField = new QLineEdit(m_toolBar);
    m_filterField->setPlaceholderText(QStringLiteral("Filter settings"));
    m_filterField->setClearButtonEnabled(true);
    m_filterField->addAction(Symbols::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    m_filterField->setMaximumWidth(220);
    m_filterField->setMinimumWidth(120);
    m_filterAction = m_toolBar->addWidget(m_filterField);
    connect(m_filterField, &QLineEdit::textEdited, this, &DeviceSettingsWindow::setFilter);
    // The clear button changes the text without an edit.
    connect(m_filterField, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text.isEmpty())
            setFilter(text);
    });

    auto *spacer = new QWidget(m_toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(spacer);

    QAction *import = m_toolBar->addAction(Symbols::icon(QStringLiteral("square.and.arrow.down")),
                                           QStringLiteral("Import Profile…"));
    import->setToolTip(QStringLiteral("Apply values from another .cfg to this device"));
    connect(import, &QAction::triggered, this, &DeviceSettingsWindow::importProfile);
    QAction *exportAction = m_toolBar->addAction(Symbols::icon(QStringLiteral("square.and.arrow.up")),
                                                 QStringLiteral("Export Profile…"));
    exportAction->setToolTip(QStringLiteral("Save these settings as a .cfg file"));
    connect(exportAction, &QAction::triggered, this, &DeviceSettingsWindow::exportProfile);

    m_rawAction = m_toolBar->addAction(Symbols::icon(QStringLiteral("curlybraces")), QStringLiteral("Raw"));
    m_rawAction->setCheckable(true);
    m_rawAction->setToolTip(QStringLiteral("Show the file as text"));
    connect(m_rawAction, &QAction::toggled, this, &DeviceSettingsWindow::setShowRaw);

    m_revertAction =
        m_toolBar->addAction(Symbols::icon(QStringLiteral("arrow.uturn.backward")), QStringLiteral("Revert"));
    m_revertAction->setToolTip(QStringLiteral("Revert"));
    connect(m_revertAction, &QAction::triggered, this, &DeviceSettingsWindow::revert);

    m_saveButton = new QPushButton(QStringLiteral("Save to Card"), m_toolBar);
    m_saveButton->setToolTip(QStringLiteral("Save to Card (%1)")
                                 .arg(QKeySequence(QKeySequence::Save).toString(QKeySequence::NativeText)));
    m_saveButton->setFocusPolicy(Qt::TabFocus);
    makeProminent(m_saveButton);
    m_toolBar->addWidget(m_saveButton);
    connect(m_saveButton, &QPushButton::clicked, this, &DeviceSettingsWindow::save);

    // Ctrl+S anywhere in the window, and only while there is something to save.
    m_saveAction = new QAction(QStringLiteral("Save to Card"), this);
    m_saveAction->setShortcut(QKeySequence::Save);
    m_saveAction->setShortcutContext(Qt::WindowShortcut);
    addAction(m_saveAction);
    connect(m_saveAction, &QAction::triggered, this, &DeviceSettingsWindow::save);
}

void DeviceSettingsWindow::buildPicker()
{
    m_pickerPage = new QWidget(m_pages);
    auto *column = new QVBoxLayout(m_pickerPage);
    column->addStretch(1);
    m_empty = new ContentUnavailableWidget(
        QStringLiteral("slider.horizontal.3"), QStringLiteral("No Configuration Open"),
        QStringLiteral(
            "Dashcams keep their settings in SETTING/blackbox.cfg or setup.cfg on the microSD card."),
        m_pickerPage);
    m_empty->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    column->addWidget(m_empty);
    auto *buttons = new QWidget(m_pickerPage);
    m_pickerButtonsLayout = new QVBoxLayout(buttons);
    m_pickerButtonsLayout->setContentsMargins(0, 0, 0, 0);
    m_pickerButtonsLayout->setSpacing(8);
    column->addWidget(buttons, 0, Qt::AlignHCenter);
    column->addStretch(1);
    m_pages->addWidget(m_pickerPage);
}

QWidget *DeviceSettingsWindow::picker() const
{
    return m_pickerPage;
}

void DeviceSettingsWindow::rebuildPicker()
{
    QStringList files;
    for (const LibrarySource &source : m_model.library().devices()) {
        // As the store last found it on the card: asked again with the cards' availability.
        if (const std::optional<QString> path = m_model.library().configURL(source))
            files.append(source.name + QStringLiteral(" — ") + fileName(*path) + QLatin1Char('\n') + *path);
    }
    if (files == m_pickerFiles && !m_pickerButtons.isEmpty())
        return;
    m_pickerFiles = files;
    for (QPushButton *button : std::as_const(m_pickerButtons))
        delete button;
    m_pickerButtons.clear();
    for (const QString &file : std::as_const(files)) {
        const QString label = file.section(QLatin1Char('\n'), 0, 0);
        const QString path = file.section(QLatin1Char('\n'), 1);
        auto *button = new QPushButton(Symbols::icon(QStringLiteral("sdcard.fill"), Qt::white), label);
        makeProminent(button);
        connect(button, &QPushButton::clicked, this, [this, path] { m_config.open(path); });
        m_pickerButtonsLayout->addWidget(button);
        m_pickerButtons.append(button);
    }
    auto *open = new QPushButton(QStringLiteral("Open Configuration File…"));
    connect(open, &QPushButton::clicked, this, &DeviceSettingsWindow::openFile);
    m_pickerButtonsLayout->addWidget(open);
    m_pickerButtons.append(open);
}

void DeviceSettingsWindow::setShowRaw(bool show)
{
    if (m_showRaw == show)
        return;
    m_showRaw = show;
    {
        const QSignalBlocker block(m_rawAction);
        m_rawAction->setChecked(show);
    }
    m_filterAction->setVisible(!show);
    if (show)
        updateRaw();
    m_editor->setCurrentWidget(show ? static_cast<QWidget *>(m_raw) : m_form);
}

void DeviceSettingsWindow::setFilter(const QString &filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    if (m_filterField->text() != filter) {
        const QSignalBlocker block(m_filterField);
        m_filterField->setText(filter);
    }
    applyFilter();
}

void DeviceSettingsWindow::documentChanged()
{
    const std::optional<ConfigFile> &file = m_config.file();
    m_toolBar->setVisible(file.has_value());
    m_rawStale = true;
    if (m_showRaw)
        updateRaw();
    const QList<ConfigFile::Entry> shape = shapeOf(file);
    if (shape != m_shape || (file && !m_form->widget()))
        rebuildForm();
    else
        refreshRows();
    updatePage();
}

void DeviceSettingsWindow::rebuildForm()
{
    const std::optional<ConfigFile> &file = m_config.file();
    m_shape = shapeOf(file);
    m_rows.clear();
    m_sections.clear();
    m_filtered.reset();
    if (!file) {
        delete m_form->takeWidget();
        return;
    }
    ++m_formBuilds;
    // Built whole before it is shown, so the layout runs once.
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("form"));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(20, 16, 20, 20);
    column->setSpacing(18);

    auto *fileSection = new FormSection(QString(), content);
    auto *fileRow = new QWidget(fileSection);
    auto *fileLine = new QHBoxLayout(fileRow);
    fileLine->setContentsMargins(0, 0, 0, 0);
    fileLine->setSpacing(12);
    auto *fileLabel = new QLabel(QStringLiteral("File"), fileRow);
    fileLine->addWidget(fileLabel);
    // Selectable, unlike a label that shortens itself.
    auto *path = new QLineEdit(fileRow);
    path->setReadOnly(true);
    path->setFrame(false);
    path->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    path->setObjectName(QStringLiteral("path"));
    m_path = path;
    showPath();
    QPalette clear = path->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    path->setPalette(clear);
    fileLabel->setBuddy(path);
    fileLine->addWidget(path, 1);
    fileSection->addRow(fileRow);
    fileSection->setFooter(footerText());
    column->addWidget(fileSection);

    // Every entry gets its row once; the filter only hides rows and the groups it empties, since filtering
    // never moves an entry to another group or changes the order of groups.
    for (const ConfigGroup &group : grouped(file->entries(), QString())) {
        auto *form = new FormSection(group.title, content);
        auto *rows = new ConfigGroupRows(form);
        for (const ConfigFile::Entry &entry : group.entries) {
            auto *row = new ConfigRow(m_config, entry, rows);
            rows->addRow(row);
            m_rows.append(row);
        }
        form->addRow(rows);
        column->addWidget(form);
        m_sections.append(Section{form, rows});
    }
    column->addStretch(1);
    applyFilter();

    const int scrolled = m_form->verticalScrollBar()->value();
    const bool sameFile = m_form->widget() && m_formUrl == m_config.url();
    m_formUrl = m_config.url();
    delete m_form->takeWidget();
    m_form->setWidget(content);
    if (sameFile)
        m_form->verticalScrollBar()->setValue(scrolled);
}

void DeviceSettingsWindow::applyFilter()
{
    if (m_filtered == m_filter)
        return;
    m_filtered = m_filter;
    QSet<int> shown;
    for (const ConfigGroup &group : grouped(m_shape, m_filter))
        for (const ConfigFile::Entry &entry : group.entries)
            shown.insert(entry.lineIndex);
    for (const Section &section : std::as_const(m_sections)) {
        const bool any = section.rows->showOnly(shown);
        if (section.form->isHidden() == any)
            section.form->setVisible(any);
    }
}

void DeviceSettingsWindow::urlChanged()
{
    updateTitle();
    // Another file of the same entries keeps its rows; it starts at the top.
    if (!m_config.url().isEmpty() && m_formUrl != m_config.url() && m_form->widget()) {
        m_formUrl = m_config.url();
        m_form->verticalScrollBar()->setValue(0);
    }
    showPath();
    updatePage();
}

void DeviceSettingsWindow::showPath()
{
    if (!m_path)
        return;
    const QString url = m_config.url();
    m_path->setText(url);
    // Scrolled to its end, so the file's own name shows when the path is long.
    m_path->setCursorPosition(int(url.size()));
    m_path->setToolTip(url);
}

void DeviceSettingsWindow::refreshRows()
{
    for (ConfigRow *row : std::as_const(m_rows))
        row->refresh();
}

void DeviceSettingsWindow::updateRaw()
{
    if (!m_rawStale)
        return;
    m_rawStale = false;
    QString text;
    if (const std::optional<ConfigFile> &file = m_config.file()) {
        for (qsizetype i = 0; i < file->lines.size(); ++i) {
            if (i > 0)
                text += QLatin1Char('\n');
            text += file->lines[i].text();
        }
    }
    if (m_raw->toPlainText() == text)
        return;
    const int scrolled = m_raw->verticalScrollBar()->value();
    m_raw->setPlainText(text);
    m_raw->verticalScrollBar()->setValue(scrolled);
}

void DeviceSettingsWindow::updatePage()
{
    const bool editing = m_config.file() && !m_config.url().isEmpty();
    m_pages->setCurrentWidget(editing ? static_cast<QWidget *>(m_editor) : m_pickerPage);
}

void DeviceSettingsWindow::updateTitle()
{
    const QString url = m_config.url();
    setWindowTitle(url.isEmpty() ? baseTitle() : baseTitle() + QStringLiteral(" — ") + fileName(url));
}

void DeviceSettingsWindow::updateDirty()
{
    const bool dirty = m_config.isDirty() && m_config.file();
    m_revertAction->setEnabled(dirty);
    // One save at a time: the card may take a while to answer.
    m_saveButton->setEnabled(dirty && !m_config.isSaving());
    m_saveAction->setEnabled(dirty && !m_config.isSaving());
}

void DeviceSettingsWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        makeProminent(m_saveButton);
        for (QPushButton *button : std::as_const(m_pickerButtons))
            if (button != m_pickerButtons.constLast())
                makeProminent(button);
    }
}

void DeviceSettingsWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_config.message().isEmpty())
        queueMessage();
}

void DeviceSettingsWindow::queueMessage()
{
    // Never from inside the store's setter: the alert runs its own event loop.
    if (m_messageQueued)
        return;
    m_messageQueued = true;
    QMetaObject::invokeMethod(this, &DeviceSettingsWindow::showMessage, Qt::QueuedConnection);
}

void DeviceSettingsWindow::showMessage()
{
    m_messageQueued = false;
    const QString message = m_config.message();
    if (message.isEmpty() || m_showingMessage || !isVisible())
        return;
    m_showingMessage = true;
    Alert alert;
    alert.style = m_config.messageStyle();
    alert.messageText = baseTitle();
    alert.informativeText = message;
    alert.buttons = {QStringLiteral("OK")};
    m_model.alerts().run(alert, this);
    m_showingMessage = false;
    // A newer message that came while this one was shown gets its own alert.
    if (m_config.message() == message)
        m_config.setMessage(QString());
    else if (!m_config.message().isEmpty())
        queueMessage();
}

void DeviceSettingsWindow::openFile()
{
    const QStringList paths = m_model.panels().openFiles(fileTypes());
    if (!paths.isEmpty())
        m_config.open(paths.constFirst());
}

void DeviceSettingsWindow::importProfile()
{
    const QStringList paths = m_model.panels().openFiles(fileTypes());
    if (!paths.isEmpty())
        m_config.importProfile(paths.constFirst());
}

void DeviceSettingsWindow::exportProfile()
{
    if (m_config.url().isEmpty())
        return;
    if (const std::optional<QString> path = m_model.panels().save(fileName(m_config.url()), cameraFileType()))
        m_config.exportProfile(*path);
}

void DeviceSettingsWindow::save()
{
    if (m_config.isDirty())
        m_config.save();
}

void DeviceSettingsWindow::revert()
{
    m_config.setFile(m_config.saved());
}

void DeviceSettingsWindow::closeFile()
{
    // Unsaved changes go without a question; a message waiting for its alert stays.
    m_config.setUrl(QString());
    m_config.setFile(std::nullopt);
    m_config.setSaved(std::nullopt);
}
