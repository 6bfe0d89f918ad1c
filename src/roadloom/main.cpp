#include <QApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Roadloom"));
    QApplication::setApplicationName(QStringLiteral("Roadloom"));
    // The windows are not built yet; say so rather than show an empty shell.
    QTextStream(stderr) << "Roadloom: the application windows are not available in this build yet.\n";
    return 1;
}
