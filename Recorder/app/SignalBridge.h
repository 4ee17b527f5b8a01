#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace corvessa {

// Turns SIGTERM, SIGHUP and SIGINT into a Qt signal on the main thread: the
// handler only writes the signal number to a pipe, which the event loop reads.
class SignalBridge : public QObject {
    Q_OBJECT
public:
    explicit SignalBridge(QObject* parent = nullptr);
    ~SignalBridge() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace corvessa
