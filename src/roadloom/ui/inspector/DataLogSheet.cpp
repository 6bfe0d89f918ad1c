#include "roadloom/ui/inspector/DataLogSheet.h"

#include "roadloom/model/AppModel.h"
#include "roadloom/ui/inspector/DataLogModel.h"
#include "roadloom/ui/widgets/Palette.h"
#include "roadloom/ui/widgets/TextStyles.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {

constexpr int timeWidth = 80, timeMinimum = 70, timeMaximum = 100;

} // namespace

DataLogSheet::DataLogSheet(AppModel &model, QWidget *parent) : QDialog(parent), m_model(model)
{
    setObjectName(QStringLiteral("dataLogSheet"));
    setWindowTitle(QStringLiteral("Data Log"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(fixedSize);

    auto *title = new QLabel(QStringLiteral("Data Log"));
    title->setFont(TextStyles::headline());
    m_count = new QLabel;
    m_count->setTextFormat(Qt::PlainText);
    QPalette secondary = m_count->palette();
    secondary.setColor(QPalette::WindowText, Palette::secondaryText(palette()));
    m_count->setPalette(secondary);
    m_filter = new QLineEdit;
    m_filter->setPlaceholderText(QStringLiteral("Filter"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setFixedWidth(200);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(12, 12, 12, 12);
    header->setSpacing(8);
    header->addWidget(title);
    header->addWidget(m_count);
    header->addStretch(1);
    header->addWidget(m_filter);

    m_log = new DataLogModel(this);
    m_table = new QTableView;
    m_table->setObjectName(QStringLiteral("dataLogTable"));
    m_table->setModel(m_log);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setTextElideMode(Qt::ElideRight);
    QHeaderView *rows = m_table->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(rowHeight(1));
    // After the table's own handling of the reset, which gives every row the default height.
    connect(m_log, &QAbstractItemModel::modelReset, this, &DataLogSheet::sizeRows);
    QHeaderView *columns = m_table->horizontalHeader();
    columns->setMinimumSectionSize(timeMinimum);
    columns->setSectionResizeMode(DataLogModel::timeColumn, QHeaderView::Interactive);
    columns->setSectionResizeMode(DataLogModel::recordColumn, QHeaderView::Stretch);
    columns->resizeSection(DataLogModel::timeColumn, timeWidth);
    columns->setHighlightSections(false);
    connect(columns, &QHeaderView::sectionResized, this, [columns](int section, int, int size) {
        if (section == DataLogModel::timeColumn && size > timeMaximum)
            columns->resizeSection(section, timeMaximum);
    });

    auto *copy = new QAction(m_table);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, &DataLogSheet::copySelected);
    m_table->addAction(copy);

    m_export = new QPushButton(QStringLiteral("Export Log\u2026"));
    m_export->setAutoDefault(false);
    m_done = new QPushButton(QStringLiteral("Done"));
    m_done->setDefault(true);
    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(12, 12, 12, 12);
    footer->addWidget(m_export);
    footer->addStretch(1);
    footer->addWidget(m_done);

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addLayout(header);
    stack->addWidget(m_table, 1);
    stack->addLayout(footer);

    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_restoring = true;
        m_log->setFilter(text);
        reselect();
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DataLogSheet::userSelected);
    connect(m_export, &QPushButton::clicked, this, [this] { m_model.exportTelemetry(TelemetryFormat::txt); });
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    connect(&model.player(), &PlayerController::telemetryChanged, this, &DataLogSheet::showTelemetry);
    showTelemetry();
    m_filter->setFocus();
}

int DataLogSheet::rowHeight(int lines) const
{
    const QFontMetrics metrics(m_log->cellFont());
    return metrics.height() + (lines - 1) * metrics.lineSpacing() + 6;
}

void DataLogSheet::sizeRows()
{
    // Every row is as tall as its record's lines. The lines most rows have are the default height, so only
    // the other rows are sized one by one: giving each of 100,000 rows its height after every keystroke of
    // the filter would cost several frames.
    const DataLogModel::RowLines lines = m_log->rowLines();
    QHeaderView *rows = m_table->verticalHeader();
    // Each resize would otherwise work out where its row now lies on screen, going over every row before.
    const QSignalBlocker quiet(rows);
    rows->setUpdatesEnabled(false);
    rows->setDefaultSectionSize(rowHeight(lines.common));
    for (const auto &[row, count] : lines.others)
        rows->resizeSection(row, rowHeight(count));
    rows->setUpdatesEnabled(true);
    m_table->doItemsLayout();
}

void DataLogSheet::showTelemetry()
{
    const Telemetry &telemetry = m_model.player().telemetry();
    m_count->setText(QString::number(telemetry.records.size()) + QStringLiteral(" records \u00B7 ") +
                     telemetry.source);
    m_restoring = true;
    m_log->setRecords(telemetry.records);
    reselect();
}

void DataLogSheet::reselect()
{
    // The selection keeps its record through filters and new telemetry, and moves nothing.
    m_restoring = true;
    const int row = m_selected ? m_log->rowOf(*m_selected) : -1;
    if (row >= 0)
        m_table->selectionModel()->select(m_log->index(row, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    else
        m_table->selectionModel()->clearSelection();
    m_restoring = false;
}

void DataLogSheet::userSelected()
{
    if (m_restoring)
        return;
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        // Cleared by the user: nothing moves, and the next selection seeks again.
        m_selected.reset();
        return;
    }
    const int id = m_log->idAt(rows.first().row());
    m_selected = id;
    const QList<TelemetryRecord> &records = m_model.player().telemetry().records;
    if (id >= 0 && id < records.size())
        m_model.player().seek(records[id].time);
}

void DataLogSheet::copySelected() const
{
    const QList<TelemetryRecord> &records = m_log->records();
    if (m_selected && *m_selected >= 0 && *m_selected < records.size())
        QGuiApplication::clipboard()->setText(records[*m_selected].text);
}
