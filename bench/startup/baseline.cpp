// What every Qt dialog program pays before it can do anything: the application
// object and one hidden dialog of the updater's size, then the end.

#include <QApplication>
#include <QDialog>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.resize(430, 345);
    return 0;
}
