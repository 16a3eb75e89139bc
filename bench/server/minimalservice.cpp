// The baseline for cold activation: the least a Qt D-Bus service does before its first reply. It registers
// one object, claims its name, answers Create with an object path and ends on Quit.
// Built with ORVEX_BENCH_WINDOW it is a widgets application that shows a small window at Create, as the
// server does, so the report can tell the cost of a window from the server's own.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QTimer>

#ifdef ORVEX_BENCH_WINDOW
#include <QApplication>
#include <QPlainTextEdit>
#endif

#include <memory>

class MinimalService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "OrvexBench.Minimal")

public Q_SLOTS:
    QDBusObjectPath Create() {
#ifdef ORVEX_BENCH_WINDOW
        if (!m_window) {
            m_window = std::make_unique<QPlainTextEdit>();
            m_window->setWindowTitle(QStringLiteral("Form1"));
            m_window->show();
        }
#endif
        return QDBusObjectPath(QStringLiteral("/OrvexBench/Minimal/1"));
    }
    void Quit() {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

private:
#ifdef ORVEX_BENCH_WINDOW
    std::unique_ptr<QPlainTextEdit> m_window;
#endif
};

int main(int argc, char **argv) {
#ifdef ORVEX_BENCH_WINDOW
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString name = QStringLiteral("OrvexBench.MinimalWindow");
#else
    QCoreApplication app(argc, argv);
    const QString name = QStringLiteral("OrvexBench.Minimal");
#endif
    MinimalService service;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/OrvexBench/Minimal"), &service,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(name))
        return 1;
    return QCoreApplication::exec();
}

#include "minimalservice.moc"
