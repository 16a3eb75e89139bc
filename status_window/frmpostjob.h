#pragma once

#include "statusview.h"

#include <QWidget>

#include <functional>

class QPlainTextEdit;

// The process's one status window: names the job being posted. Unloading it ends the process, through
// the unload handler that the host installs.
class frmPostJob final : public QWidget, public StatusView {
    Q_OBJECT

public:
    using UnloadHandler = std::function<void()>;

    // The process's window, created on first use (not shown); it lives until the application ends.
    static frmPostJob &instance();
    // Called on every unload: a close by the user or the system, or unload().
    static void setUnloadHandler(UnloadHandler handler);

    explicit frmPostJob(QWidget *parent = nullptr);
    ~frmPostJob() override;

    // The text exactly as last set, with its CR LF line breaks.
    QString statusText() const override;
    void setStatusText(const QString &text) override;

    // Unloads the window as a release does.
    void unload();

    // The text box, showing the current status text.
    QPlainTextEdit &textBox();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    static void runUnloadHandler();
    void showStatusText();

    QPlainTextEdit *txtStatus;
    QString m_statusText;
    bool m_showPending = false;
};
