#pragma once

// A UPnP device on 127.0.0.1 for the SSDP tests: it answers each search with the datagrams a function gives.
#include <QByteArray>
#include <QList>
#include <QNetworkDatagram>
#include <QString>
#include <QUdpSocket>

#include <functional>

namespace vornakel::test {

inline QByteArray ssdpAnswer(const QString& st, const QString& usn, const QString& location = QStringLiteral("http://127.0.0.1:49152/desc.xml"))
{
    return QStringLiteral("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: %1\r\n"
                          "SERVER: Camera OS/1.0 UPnP/1.0 Test/1.0\r\nST: %2\r\nUSN: %3\r\n\r\n")
        .arg(location, st, usn)
        .toUtf8();
}

// Answers each search with what `answers` gives for the request.
class FakeSsdpDevice {
public:
    explicit FakeSsdpDevice(std::function<QList<QByteArray>(const QByteArray& request)> answers) : m_answers(std::move(answers))
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram request = m_socket.receiveDatagram();
                requests.push_back(request.data());
                for (const QByteArray& reply : m_answers(request.data()))
                    m_socket.writeDatagram(reply, request.senderAddress(), request.senderPort());
            }
        });
    }
    quint16 port() const { return m_socket.localPort(); }
    QList<QByteArray> requests;

private:
    std::function<QList<QByteArray>(const QByteArray&)> m_answers;
    QUdpSocket m_socket;
};

} // namespace vornakel::test
