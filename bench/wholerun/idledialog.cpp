// The baseline of the whole run: a shown dialog of the updater's size whose
// event loop has nothing to do for the given number of seconds.
//   idle-dialog SECONDS

#include <QApplication>
#include <QDialog>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 3;
    QDialog dialog;
    dialog.resize(430, 345);
    dialog.show();
    QTimer::singleShot(seconds * 1000, &application, &QApplication::quit);
    return QApplication::exec();
}
