#include "Journey.h"

#include "fixtures/Screenshot.h"
#include "fixtures/TestSupport.h"
#include "platform/Defaults.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/shell/AppActions.h"
#include "roadloom/ui/shell/AppServices.h"
#include "roadloom/ui/library/ClipListModel.h"
#include "roadloom/ui/library/ClipListView.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/shell/RoadloomApp.h"
#include "roadloom/ui/library/SidebarView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QHash>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace Journey {

namespace {

std::unique_ptr<Program> &theProgram()
{
    static std::unique_ptr<Program> program;
    return program;
}

int pendingAnswers = 0;

// Closes the windows before the application object goes; the model and its services stay, as they do in
// the program, where they live until the process ends.
class Ending : public testing::Environment {
public:
    void TearDown() override
    {
        if (Program *p = theProgram().get()) {
            p->app.reset();
            (void)p->services.release();
            (void)theProgram().release();
        }
    }
};

[[maybe_unused]] const auto *const ending = testing::AddGlobalTestEnvironment(new Ending);

// Calls `answer` with the first visible top-level widget of type T, every 50 ms for up to 20 s.
template <typename T> void whenShown(std::function<void(T *)> answer)
{
    ++pendingAnswers;
    auto *timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, tries, answer] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *shown = qobject_cast<T *>(widget); shown && shown->isVisible()) {
                timer->stop();
                timer->deleteLater();
                --pendingAnswers;
                answer(shown);
                return;
            }
        }
        if (++*tries > 400) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(50);
}

} // namespace

Program *program()
{
    return theProgram().get();
}

Program &start(const QStringList &paths)
{
    auto &p = theProgram();
    p = std::make_unique<Program>();
    p->home = QDir::homePath();
    p->original = TestSupport::media(QStringLiteral("e2e_card"));
    p->card = p->home + QStringLiteral("/DASHCAM");
    // Plain tiles, so the route's blue stands out on the map.
    p->tiles.color = [](int, int, int) { return QColor(0xe8, 0xe4, 0xd8); };
    Defaults::standard().setValue(Preferences::Keys::mapTileURL, p->tiles.urlTemplate());

    // As the executable's main builds it.
    p->services = std::make_unique<AppServices>();
    p->model = &AppModel::createShared(p->services->modelServices());
    p->app = std::make_unique<RoadloomApp>(*p->model);
    p->window = qobject_cast<MainWindow *>(p->app->openWindow(RoadloomApp::mainID));
    if (p->window) {
        p->window->move(0, 0);
        p->window->resize(Screenshot::large);
    }
    if (!paths.isEmpty()) {
        RoadloomApp *app = p->app.get();
        QTimer::singleShot(0, app, [app, paths] { app->openPaths(paths); });
    }
    return *p;
}

AppActions *actions()
{
    return program() && program()->window ? program()->window->findChild<AppActions *>() : nullptr;
}

QAction *action(const QString &name)
{
    AppActions *all = actions();
    return all ? all->action(name) : nullptr;
}

SidebarView *sidebar()
{
    return program() && program()->window ? program()->window->findChild<SidebarView *>() : nullptr;
}

ClipListView *clipList()
{
    return program() && program()->window ? program()->window->findChild<ClipListView *>() : nullptr;
}

DetailView *detail()
{
    return program() && program()->window ? program()->window->detailView() : nullptr;
}

std::optional<DashClip> listed(const QString &name)
{
    if (!program())
        return std::nullopt;
    for (const DashClip &clip : program()->model->library().clips())
        if (clip.name.contains(name))
            return clip;
    return std::nullopt;
}

QStringList listedRows()
{
    QStringList rows;
    ClipListView *view = clipList();
    if (!view)
        return rows;
    ClipListModel *model = view->clipModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->isHeader(row))
            rows.append(QStringLiteral("# ") + model->headerTitle(row));
        else if (const DashClip *clip = model->clip(row))
            rows.append(clip->name);
    }
    return rows;
}

bool clickSource(const QString &name)
{
    SidebarView *view = sidebar();
    if (!view)
        return false;
    QAbstractItemModel *model = view->list()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (index.data(Qt::DisplayRole).toString() != name)
            continue;
        QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {},
                          view->list()->visualRect(index).center());
        return true;
    }
    return false;
}

bool clickRecording(const QString &name)
{
    ClipListView *view = clipList();
    if (!view)
        return false;
    ClipListModel *model = view->clipModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        const DashClip *clip = model->isHeader(row) ? nullptr : model->clip(row);
        if (!clip || !clip->name.contains(name))
            continue;
        const QModelIndex index = model->index(row);
        view->list()->scrollTo(index);
        QCoreApplication::processEvents();
        QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {},
                          view->list()->visualRect(index).center());
        return true;
    }
    return false;
}

void answerFileDialog(const QString &path)
{
    whenShown<QFileDialog>([path](QFileDialog *dialog) {
        // Typed into the name field, then the dialog's own Open / Save.
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        else
            dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
}

void answerMessageBox(const QString &button)
{
    whenShown<QMessageBox>([button](QMessageBox *box) {
        for (QAbstractButton *each : box->buttons()) {
            if (each->text() == button) {
                QTest::mouseClick(each, Qt::LeftButton);
                return;
            }
        }
        ADD_FAILURE() << "no button " << button.toStdString() << " in \"" << box->text().toStdString()
                      << "\"";
        box->reject();
    });
}

bool answersTaken()
{
    return pendingAnswers == 0;
}

QImage screenshot(const QString &name)
{
    MainWindow *window = program() ? program()->window.data() : nullptr;
    if (!window)
        return {};
    if (window->size() != Screenshot::large)
        window->resize(Screenshot::large);
    pass(300);
    const QRect area(window->geometry().topLeft(), Screenshot::large);
    QImage image = window->screen()
                       ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                       .toImage()
                       .convertToFormat(QImage::Format_RGB32);
    const QString path = Screenshot::folder() + QLatin1Char('/') + name + QStringLiteral(".png");
    QDir().mkpath(Screenshot::folder());
    if (!image.save(path))
        ADD_FAILURE() << "could not write " << path.toStdString();
    // A small copy for the README (scripts/readme-screenshots.sh): half size, 256 colours. Colours are
    // pooled by their top four bits a channel, so the shades of anti-aliased text leave room for the rare
    // strong colours (icons, chart lines); the commonest pools give the palette their mean colour.
    const QImage half = image.scaled(image.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    struct Pool {
        qint64 r = 0, g = 0, b = 0, n = 0;
    };
    QHash<int, Pool> pools;
    for (int y = 0; y < half.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(half.constScanLine(y));
        for (int x = 0; x < half.width(); ++x) {
            const QRgb c = line[x];
            Pool &pool = pools[(qRed(c) >> 4) << 8 | (qGreen(c) >> 4) << 4 | qBlue(c) >> 4];
            pool.r += qRed(c);
            pool.g += qGreen(c);
            pool.b += qBlue(c);
            ++pool.n;
        }
    }
    QList<Pool> byCount = pools.values();
    std::sort(byCount.begin(), byCount.end(), [](const Pool &a, const Pool &b) { return a.n > b.n; });
    QList<QRgb> palette;
    for (qsizetype i = 0; i < std::min<qsizetype>(256, byCount.size()); ++i) {
        const Pool &pool = byCount[i];
        palette.append(qRgb(int(pool.r / pool.n), int(pool.g / pool.n), int(pool.b / pool.n)));
    }
    half.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither)
        .save(Screenshot::folder() + QLatin1Char('/') + name + QStringLiteral("-small.png"), "PNG", 9);
    return image;
}

QImage grab(QWidget *widget)
{
    QCoreApplication::processEvents();
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    return widget->screen()
        ->grabWindow(0, origin.x(), origin.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

std::optional<int> frameNumber(const QImage &image, const QRectF &picture)
{
    int number = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const QPoint at(int(picture.left() + picture.width() * (bit * 20 + 10) / 320.0),
                        int(picture.top() + picture.height() * 6 / 180.0));
        if (!image.rect().contains(at))
            return std::nullopt;
        const int grey = qGray(image.pixel(at));
        if (grey > 80 && grey < 170)
            return std::nullopt; // neither bar colour: not the picture, or a frame in between
        number = number * 2 + (grey >= 170 ? 1 : 0);
    }
    return number;
}

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    if (!QDir().mkpath(to))
        return false;
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(path, target)) {
            return false;
        } else {
            // Keep the camera's time stamps.
            QFile copy(target);
            copy.open(QIODevice::ReadWrite);
            copy.setFileTime(it.fileInfo().lastModified(), QFileDevice::FileModificationTime);
        }
    }
    return true;
}

QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void pass(int ms)
{
    QTest::qWait(ms);
}

bool until(const std::function<bool()> &predicate, int timeoutMs)
{
    return TestSupport::waitFor(predicate, timeoutMs);
}

} // namespace Journey
