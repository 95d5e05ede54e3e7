#include "BoxRecorder.h"
#include "Shockwaveflash_ads.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace
{
QByteArray PngOf(const QColor& colour)
{
    QImage image(600, 75, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QColor CentreColour(QWidget& widget)
{
    return widget.grab().toImage().pixelColor(widget.width() / 2, widget.height() / 2);
}

// A movie server on the loopback interface: answers "/fast.png" at once and holds any
// other request open without answering, noting when its client goes away.
class MovieServer final : public QTcpServer
{
public:
    explicit MovieServer(QByteArray movie) : m_movie(std::move(movie))
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, &MovieServer::Accept);
    }
    QString Url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

    int heldRequests = 0;
    int droppedHeldRequests = 0;

private:
    void Accept()
    {
        while (QTcpSocket* socket = nextPendingConnection())
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Answer(socket); });
    }
    void Answer(QTcpSocket* socket)
    {
        const QByteArray request = socket->readAll();
        if (!request.startsWith("GET /fast.png"))
        {
            ++heldRequests;
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++droppedHeldRequests; });
            return;
        }
        socket->write("HTTP/1.0 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                      QByteArray::number(m_movie.size()) + "\r\n\r\n" + m_movie);
        socket->disconnectFromHost();
    }

    QByteArray m_movie;
};
} // namespace

class BannerTest : public QObject
{
    Q_OBJECT

private slots:
    void startsWithTheDesignedPlayerState()
    {
        CShockwaveflash_ads banner(nullptr);
        QCOMPARE(banner.property("WMode").toString(), QStringLiteral("Window"));
        QCOMPARE(banner.property("Quality").toString(), QStringLiteral("High"));
        QCOMPARE(banner.property("ScaleMode").toString(), QStringLiteral("ShowAll"));
        QCOMPARE(banner.property("AllowNetworking").toString(), QStringLiteral("all"));
        QCOMPARE(banner.property("AllowFullScreen").toBool(), false);
        QVERIFY(!banner.HasMovie());
    }

    // The press stops at the box: the movie never sees it.
    void leftClickShowsTheBoxAndOnlyTheBox()
    {
        CShockwaveflash_ads banner(nullptr);
        banner.resize(600, 75);
        BoxRecorder boxes;
        QTest::mouseClick(&banner, Qt::LeftButton, {}, QPoint(300, 30));
        QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("点击广告")});
        QCOMPARE(boxes.boxes[0].type, UINT(MB_OK));
        QTest::mouseClick(&banner, Qt::RightButton, {}, QPoint(300, 30));
        QCOMPARE(boxes.boxes.size(), 1);
    }

    // A movie file is shown scaled into the banner; one that cannot be had leaves the
    // built-in banner.
    void playsAMovieFileAndFallsBackToTheBuiltInBanner()
    {
        QTemporaryDir folder;
        QFile movie(folder.filePath(QStringLiteral("banner.png")));
        QVERIFY(movie.open(QIODevice::WriteOnly));
        movie.write(PngOf(QColor(0x20, 0xC0, 0x40)));
        movie.close();

        CShockwaveflash_ads banner(nullptr);
        banner.resize(600, 75);
        const QColor builtIn = CentreColour(banner);
        banner.LoadMovie(0, movie.fileName());
        banner.Play();
        QVERIFY(banner.HasMovie());
        QCOMPARE(CentreColour(banner), QColor(0x20, 0xC0, 0x40));

        banner.LoadMovie(0, folder.filePath(QStringLiteral("missing.gif")));
        QVERIFY(!banner.HasMovie());
        QCOMPARE(CentreColour(banner), builtIn);
        QVERIFY(builtIn != QColor(0x20, 0xC0, 0x40));
    }

    // Network loads run in the background; a newer load cancels the one in flight.
    void networkLoadNeverBlocksAndANewerLoadCancelsTheOld()
    {
        MovieServer server(PngOf(QColor(0xC0, 0x20, 0x80)));
        CShockwaveflash_ads banner(nullptr);
        banner.resize(600, 75);

        QElapsedTimer clock;
        clock.start();
        banner.LoadMovie(0, server.Url(QStringLiteral("/held.swf")));
        banner.Play();
        QVERIFY(clock.elapsed() < 1000);
        QTRY_COMPARE(server.heldRequests, 1);
        QVERIFY(!banner.HasMovie());

        banner.LoadMovie(0, server.Url(QStringLiteral("/fast.png")));
        banner.Play();
        QTRY_VERIFY(banner.HasMovie());
        QTRY_COMPARE(server.droppedHeldRequests, 1);
        QCOMPARE(CentreColour(banner), QColor(0xC0, 0x20, 0x80));
    }

    // A movie that cannot be fetched replaces the one shown with the built-in banner.
    void failedNetworkLoadShowsTheBuiltInBanner()
    {
        QTemporaryDir folder;
        QFile movie(folder.filePath(QStringLiteral("banner.png")));
        QVERIFY(movie.open(QIODevice::WriteOnly));
        movie.write(PngOf(Qt::white));
        movie.close();
        CShockwaveflash_ads banner(nullptr);
        banner.resize(600, 75);
        banner.LoadMovie(0, movie.fileName());
        QVERIFY(banner.HasMovie());

        banner.LoadMovie(0, QStringLiteral("http://127.0.0.1:1/200906/16/178843_sy-dt.swf"));
        banner.Play();
        QTRY_VERIFY(!banner.HasMovie());
    }
};

QTEST_MAIN(BannerTest)
#include "BannerTest.moc"
