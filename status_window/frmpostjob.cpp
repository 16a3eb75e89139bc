#include "frmpostjob.h"

#include "programicon.h"

#include <QCloseEvent>
#include <QPlainTextEdit>

namespace {

constexpr QSize ClientArea(312, 129);
constexpr QRect StatusBoxGeometry(19, 17, 278, 90);
constexpr qreal FontPointSize = 8.25;

} // namespace

frmPostJob::frmPostJob(QWidget *parent)
    : QWidget(parent)
    , txtStatus(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("frmPostJob"));
    setWindowTitle(QStringLiteral("Form1"));
    setWindowIcon(Orvex::programIcon());
    setFixedSize(ClientArea);

    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(FontPointSize);
    font.setWeight(QFont::Normal);
    setFont(font);

    txtStatus->setObjectName(QStringLiteral("txtStatus"));
    txtStatus->setGeometry(StatusBoxGeometry);
    txtStatus->setReadOnly(true);
    txtStatus->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtStatus->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtStatus->setFocusPolicy(Qt::StrongFocus);
}

frmPostJob::~frmPostJob() = default;

QString frmPostJob::statusText() const {
    return m_statusText;
}

void frmPostJob::setStatusText(const QString &text) {
    m_statusText = text;
    // The box catches up when the event loop next runs, the first moment it could paint anyway: an
    // exchange sets the text twice without returning to the loop, and laying out text costs more than
    // the rest of its own work. A window that never paints (its updates turned off) lays the text out only
    // when someone asks for the box.
    const bool queued = m_showPending;
    m_showPending = true;
    if (!queued && updatesEnabled())
        QMetaObject::invokeMethod(this, &frmPostJob::showStatusText, Qt::QueuedConnection);
}

QPlainTextEdit &frmPostJob::textBox() {
    showStatusText();
    return *txtStatus;
}

void frmPostJob::showStatusText() {
    if (!m_showPending)
        return;
    m_showPending = false;
    QString shown = m_statusText;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    txtStatus->setPlainText(shown);
}

void frmPostJob::showWindow() {
    show();
}

void frmPostJob::closeWindow() {
    close();
}

void frmPostJob::setUnloadHandler(std::function<void()> handler) {
    connect(this, &frmPostJob::unloaded, this, std::move(handler));
}

void frmPostJob::unload() {
    Q_EMIT unloaded();
    hide();
}

void frmPostJob::closeEvent(QCloseEvent *event) {
    Q_EMIT unloaded();
    event->accept();
}
