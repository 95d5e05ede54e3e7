#include "Shockwaveflash_ads.h"

#include "WideText.h"

#include "platform/MessageBox.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QMovie>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>

#include <iterator>

namespace
{
// A banner server that does not answer should not keep a load in flight for minutes.
constexpr int kTransferTimeoutMs = 15000;

bool IsNetworkUrl(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

// "qrc:/a.gif" and ":/a.gif" name a resource, "file:///a.gif" and "/a.gif" a file.
QString LocalMoviePath(const QUrl& url, const QString& text)
{
    if (url.scheme() == QLatin1String("qrc"))
        return QLatin1Char(':') + url.path();
    if (url.isLocalFile())
        return url.toLocalFile();
    return text;
}
} // namespace

CShockwaveflash_ads::CShockwaveflash_ads(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CShockwaveflash_ads::LoadMovie(int layer, const QString& url)
{
    if (layer != 0)
        return;
    CancelLoad();
    m_playRequested = false;
    const QUrl movieUrl(url);
    emit LoadStarted(movieUrl);

    if (IsNetworkUrl(movieUrl))
    {
        if (m_allowNetworking != QLatin1String("all"))
        {
            ShowMovie(nullptr);
            return;
        }
        if (m_network == nullptr)
            m_network = new QNetworkAccessManager(this);
        QNetworkRequest request(movieUrl);
        request.setTransferTimeout(kTransferTimeoutMs);
        QNetworkReply* reply = m_network->get(request);
        m_reply = reply;
        connect(reply, &QNetworkReply::finished, this, [this, reply] { OnMovieData(reply); });
        return;
    }
    auto* movie = new QMovie(LocalMoviePath(movieUrl, url), QByteArray(), this);
    ShowMovie(movie);
}

void CShockwaveflash_ads::Play()
{
    m_playRequested = true;
    if (m_movie != nullptr)
        m_movie->start();
    emit PlayStarted();
}

bool CShockwaveflash_ads::HasMovie() const
{
    return m_movie != nullptr;
}

void CShockwaveflash_ads::CancelLoad()
{
    if (m_reply == nullptr)
        return;
    // Disconnected first: an aborted reply reports its end at once.
    disconnect(m_reply, nullptr, this, nullptr);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply = nullptr;
}

void CShockwaveflash_ads::OnMovieData(QNetworkReply* reply)
{
    reply->deleteLater();
    m_reply = nullptr;
    if (reply->error() != QNetworkReply::NoError)
    {
        ShowMovie(nullptr);
        return;
    }
    auto* movie = new QMovie(this);
    auto* data = new QBuffer(movie);
    data->setData(reply->readAll());
    data->open(QIODevice::ReadOnly);
    movie->setDevice(data);
    ShowMovie(movie);
}

// Takes `movie` (null or one that cannot be read: the built-in banner) in place of the
// movie shown so far.
void CShockwaveflash_ads::ShowMovie(QMovie* movie)
{
    delete m_movie;
    m_movie = nullptr;
    if (movie != nullptr && !movie->isValid())
        delete movie;
    else if (movie != nullptr)
    {
        m_movie = movie;
        connect(movie, &QMovie::frameChanged, this, qOverload<>(&QWidget::update));
        if (m_playRequested)
            movie->start();
        else
            movie->jumpToFrame(0);
    }
    update();
}

void CShockwaveflash_ads::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
    {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    AfxMessageBox(u"点击广告", MB_OK);
}

void CShockwaveflash_ads::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPixmap frame = m_movie != nullptr ? m_movie->currentPixmap() : QPixmap();
    if (frame.isNull())
    {
        PaintBuiltInBanner(painter);
        return;
    }
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const bool smooth = m_quality.compare(QLatin1String("Low"), Qt::CaseInsensitive) != 0;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    if (m_scaleMode.compare(QLatin1String("ShowAll"), Qt::CaseInsensitive) == 0)
    {
        const QSize shown = frame.size().scaled(size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
        painter.drawPixmap(target, frame);
    }
    else
        painter.drawPixmap(rect(), frame);
}

void CShockwaveflash_ads::PaintBuiltInBanner(QPainter& painter) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, width(), height());
    background.setColorAt(0.0, QColor(0x0B, 0x3D, 0x91));
    background.setColorAt(1.0, QColor(0x1F, 0x9E, 0xC9));
    painter.fillRect(rect(), background);

    // A lightning bolt, the sign of the quick search.
    const qreal unit = height() / 75.0;
    const QPointF bolt[] = {{34 * unit, 8 * unit},  {18 * unit, 42 * unit}, {31 * unit, 42 * unit},
                            {24 * unit, 67 * unit}, {48 * unit, 30 * unit}, {35 * unit, 30 * unit},
                            {44 * unit, 8 * unit}};
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xFF, 0xD2, 0x3F));
    painter.drawPolygon(bolt, std::size(bolt));

    QFont title = font();
    title.setPixelSize(qRound(26 * unit));
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    const QRect text = rect().adjusted(qRound(60 * unit), 0, -qRound(12 * unit), 0);
    painter.drawText(QRect(text.left(), 0, text.width(), qRound(44 * unit)), Qt::AlignLeft | Qt::AlignBottom,
                     QStringLiteral("奥瓦文件搜索"));
    QFont subtitle = font();
    subtitle.setPixelSize(qRound(14 * unit));
    painter.setFont(subtitle);
    painter.setPen(QColor(0xDD, 0xEE, 0xFF));
    painter.drawText(text.adjusted(0, qRound(48 * unit), 0, 0), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("NTFS 文件名即时搜索，输入即见结果"));
}
