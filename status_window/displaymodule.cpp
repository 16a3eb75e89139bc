// The display module: QtGui, QtWidgets and the window system's libraries load with it.

#include "display.h"
#include "frmpostjob.h"
#include "messageboxwarning.h"
#include "programicon.h"

#include <QApplication>

#include <type_traits>

namespace {

class ScreenDisplay final : public Orvex::Display {
public:
    std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv) override {
        // A platform that cannot reach the display falls back to offscreen rather than ending the process.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM",
                    qEnvironmentVariableIsEmpty("DISPLAY") ? "wayland;offscreen" : "xcb;offscreen");
        auto application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        // The warning box and any other window of the process carry the program's icon too.
        QApplication::setWindowIcon(Orvex::programIcon());
        return application;
    }

    bool isOnScreen() const override { return QGuiApplication::platformName() != u"offscreen"; }

    std::unique_ptr<Orvex::StatusWindow> makeStatusWindow() override {
        return std::make_unique<frmPostJob>();
    }

    Orvex::WarningBox &warningBox() override { return m_warningBox; }

private:
    Orvex::MessageBoxWarning m_warningBox;
};

} // namespace

extern "C" Q_DECL_EXPORT Orvex::Display *orvexDisplay() {
    static ScreenDisplay display;
    return &display;
}

static_assert(std::is_same_v<decltype(orvexDisplay), Orvex::DisplayEntry>);
