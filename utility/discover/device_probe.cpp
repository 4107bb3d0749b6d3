#include "device_probe.hpp"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QXmlStreamReader>

namespace vtdiscover {

namespace {
constexpr int kTimeoutMs = 10000;
constexpr qsizetype kMaxReplyBytes = 65536;
constexpr qsizetype kMaxValueBytes = 255;

// The longest start of text that fits in max bytes of UTF-8.
QString CutToBytes(const QString &text, qsizetype max) {
    QString cut = text;
    while (cut.toUtf8().size() > max) cut.chop(1);
    return cut;
}
}  // namespace

bool IsPlausibleAddress(const QString &address) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]{0,251}[A-Za-z0-9])?$"));
    return pattern.match(address).hasMatch();
}

ConnectReply ParseConnectReply(const QByteArray &reply) {
    ConnectReply out;
    qsizetype lineEnd = reply.indexOf('\n');
    const QList<QByteArray> status = reply.left(lineEnd < 0 ? reply.size() : lineEnd).trimmed().split(' ');
    if (status.size() < 2 || !status[0].startsWith("HTTP/")) {
        out.problem = QStringLiteral("no HTTP reply");
        return out;
    }
    if (status[1] != "200") {
        out.problem = QStringLiteral("HTTP status %1").arg(QString::fromLatin1(status[1]));
        return out;
    }
    qsizetype bodyStart = reply.indexOf("\r\n\r\n");
    bodyStart = bodyStart < 0 ? reply.indexOf("\n\n") : bodyStart;
    if (bodyStart < 0) {
        out.problem = QStringLiteral("reply without a body");
        return out;
    }
    bodyStart = reply.indexOf('<', bodyStart);

    QXmlStreamReader xml(reply.mid(bodyStart < 0 ? reply.size() : bodyStart));
    QStringList path;
    QString result, session;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: path << xml.name().toString(); break;
        case QXmlStreamReader::EndElement:
            if (!path.isEmpty()) path.removeLast();
            break;
        case QXmlStreamReader::Characters: {
            const QString where = path.join(QLatin1Char('/'));
            if (where == QLatin1String("BoxNwLib/Header/Version"))
                out.version += xml.text();
            else if (where == QLatin1String("BoxNwLib/Message/Result"))
                result += xml.text();
            else if (where == QLatin1String("BoxNwLib/Message/SessionInfo/WebSessionID"))
                session += xml.text();
            break;
        }
        default: break;
        }
    }
    if (xml.hasError()) {
        out.problem = QStringLiteral("unreadable reply: %1").arg(xml.errorString());
        return out;
    }
    out.version = CutToBytes(out.version.trimmed(), kMaxValueBytes);
    bool resultOk = false, sessionOk = false;
    const int resultCode = result.trimmed().toInt(&resultOk);
    out.sessionId = session.trimmed().toUInt(&sessionOk);
    if (!resultOk || resultCode != 0) {
        out.problem = QStringLiteral("the device refused a session (result %1)").arg(result.trimmed());
        return out;
    }
    if (!sessionOk || out.sessionId == 0) {
        out.problem = QStringLiteral("the reply holds no session");
        return out;
    }
    out.ok = true;
    return out;
}

DeviceProbe::DeviceProbe(QString address, uint16_t port, QObject *parent)
    : QObject(parent), address_(std::move(address)), port_(port), timer_(new QTimer(this)) {
    result_.address = address_;
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this,
            [this] { Fail(QStringLiteral("no answer within %1 s").arg(kTimeoutMs / 1000)); });
}

void DeviceProbe::Start() {
    if (!IsPlausibleAddress(address_)) {
        QTimer::singleShot(0, this, [this] { Fail(QStringLiteral("not a host name or IPv4 address")); });
        return;
    }
    Request("/VaultraBox/boxnwConnect");
}

void DeviceProbe::Request(const QByteArray &target) {
    if (socket_) {
        socket_->disconnect(this);
        socket_->deleteLater();
    }
    received_.clear();
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::connected, this, [this, target] {
        socket_->write("GET " + target + " HTTP/1.0\r\nHost: " + address_.toLatin1() + ':' + QByteArray::number(port_) +
                       "\r\nConnection: close\r\n\r\n");
    });
    connect(socket_, &QTcpSocket::readyRead, this, [this] {
        received_ += socket_->readAll();
        if (received_.size() > kMaxReplyBytes) Fail(QStringLiteral("the reply is too long"));
    });
    connect(socket_, &QTcpSocket::disconnected, this, [this] { OnReply(received_); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The device closing the connection after its reply is the normal end.
        if (error == QAbstractSocket::RemoteHostClosedError) return;
        Fail(socket_->errorString());
    });
    timer_->start(kTimeoutMs);
    socket_->connectToHost(address_, port_);
}

void DeviceProbe::OnReply(const QByteArray &reply) {
    if (done_) return;
    if (disconnecting_) {
        // Whatever the device said to closing, it answered.
        Finish();
        return;
    }
    ConnectReply parsed = ParseConnectReply(reply);
    if (!parsed.ok) {
        Fail(parsed.problem);
        return;
    }
    result_.answered = true;
    result_.model = parsed.version;
    disconnecting_ = true;
    Request("/VaultraBox/boxnwDisconnect?SID=" + QByteArray::number(parsed.sessionId).rightJustified(8, '0'));
}

void DeviceProbe::Fail(const QString &problem) {
    if (done_) return;
    // A session that was opened counts even if closing it failed.
    if (!disconnecting_) result_.problem = problem;
    Finish();
}

void DeviceProbe::Finish() {
    if (done_) return;
    done_ = true;
    timer_->stop();
    if (socket_) socket_->abort();
    emit Finished(result_);
}

}  // namespace vtdiscover
