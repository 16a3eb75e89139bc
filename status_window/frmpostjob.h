#pragma once

#include "statuswindow.h"

#include <QWidget>

class QPlainTextEdit;

// The status window: names the job being posted. Its owner decides what unloading means (for the server,
// the end of the process) by listening to unloaded().
class frmPostJob final : public QWidget, public Orvex::StatusWindow {
    Q_OBJECT

public:
    explicit frmPostJob(QWidget *parent = nullptr);
    ~frmPostJob() override;

    // The text exactly as last set, with its CR LF line breaks.
    QString statusText() const override;
    void setStatusText(const QString &text) override;

    void showWindow() override;
    void unload() override;
    void closeWindow() override;
    void setUnloadHandler(std::function<void()> handler) override;

    // The text box, showing the current status text.
    QPlainTextEdit &textBox();

Q_SIGNALS:
    // Every unload: a close by the user or the system, or unload().
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void showStatusText();

    QPlainTextEdit *txtStatus;
    QString m_statusText;
    bool m_showPending = false;
};
