// Checks one device address: opens a box web service session and closes it
// again, and reads the engine version the device reports on the way.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>

class QTcpSocket;
class QTimer;

namespace vtdiscover {

// What the device's answer to "open a session" said.
struct ConnectReply {
    bool ok = false;  // HTTP 200, Result 0 and a session number
    uint32_t sessionId = 0;
    QString version;  // Header/Version: the engine version text
    QString problem;  // why not ok
};

// Reads a whole HTTP/1.0 reply (status line, headers, XML body).
ConnectReply ParseConnectReply(const QByteArray &reply);

// True for a host name or dotted IPv4 address that may be tried.
bool IsPlausibleAddress(const QString &address);

struct ProbeResult {
    QString address;
    bool answered = false;
    QString model;    // the engine version text, at most 255 bytes
    QString problem;  // why the device did not answer
};

class DeviceProbe : public QObject {
    Q_OBJECT
public:
    DeviceProbe(QString address, uint16_t port, QObject *parent = nullptr);
    // Starts the check; Finished comes once, also on failure.
    void Start();

signals:
    void Finished(const vtdiscover::ProbeResult &result);

private:
    void Request(const QByteArray &target);
    void OnReply(const QByteArray &reply);
    void Fail(const QString &problem);
    void Finish();

    QString address_;
    uint16_t port_;
    QTcpSocket *socket_ = nullptr;
    QTimer *timer_;
    QByteArray received_;
    bool disconnecting_ = false;
    bool done_ = false;
    ProbeResult result_;
};

}  // namespace vtdiscover
