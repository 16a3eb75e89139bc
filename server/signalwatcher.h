#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace Orvex {

// Turns POSIX signals into a Qt signal on the main thread: the handler only writes the signal number
// into a pipe, the event loop reads it.
class SignalWatcher final : public QObject {
    Q_OBJECT

public:
    SignalWatcher(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~SignalWatcher() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Orvex
