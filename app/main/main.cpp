// Entry point of the windowed program.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label("Quorvella 2.12\n\nThe main window is being built; "
                 "the engine, catalogue and adapters are available to the tests.");
    label.setWindowTitle("Tessmar - Quorvella");
    label.setMargin(24);
    label.show();
    return app.exec();
}
