#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vornakel Transfer"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Vornakel Transfer"));
    window.resize(339, 420);
    window.show();
    return app.exec();
}
