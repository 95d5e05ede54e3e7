// CShockwaveflash_ads: the banner at the top left of the main window.
//
// LoadMovie(layer, url) fetches a movie and Play starts it. What Qt can play is played:
// an animated (or still) image by http(s) URL, local file or Qt resource, scaled as
// ScaleMode says. Loading never blocks the window: a network movie arrives in the
// background, and a newer LoadMovie cancels a load still in flight. Until a movie can be
// shown (and for good, when it cannot be had) the widget draws a banner of its own with
// the program's name.
//
// A left-button press shows the box "点击广告" and goes no further: the movie never sees
// it. FSCommand and FlashCall are the movie's events; the owner answers them.
#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

class QMovie;
class QNetworkAccessManager;
class QNetworkReply;

class CShockwaveflash_ads final : public QWidget
{
    Q_OBJECT
    // The player's starting state, the values the banner was designed with.
    Q_PROPERTY(QString WMode MEMBER m_wmode)                     // "Window": a window of its own
    Q_PROPERTY(QString Quality MEMBER m_quality)                 // "High": smooth scaling
    Q_PROPERTY(QString ScaleMode MEMBER m_scaleMode)             // "ShowAll": whole movie, aspect kept
    Q_PROPERTY(QString AllowNetworking MEMBER m_allowNetworking) // "all": movies by URL allowed
    Q_PROPERTY(bool AllowFullScreen MEMBER m_allowFullScreen)    // false: never full screen

public:
    explicit CShockwaveflash_ads(QWidget* parent);

    // Replaces the movie with the one at `url` (only layer 0 exists; other layers are
    // ignored). Emits LoadStarted.
    void LoadMovie(int layer, const QString& url);
    // Starts the movie, now when it is loaded or as soon as it arrives. Emits PlayStarted.
    void Play();

    // True while a movie (not the built-in banner) is shown.
    bool HasMovie() const;

signals:
    void FSCommand(const QString& command, const QString& args);
    void FlashCall(const QString& request);
    void LoadStarted(const QUrl& url);
    void PlayStarted();

protected:
    void mousePressEvent(QMouseEvent* event) override; // OnLButtonDown
    void paintEvent(QPaintEvent* event) override;

private:
    void CancelLoad();
    void OnMovieData(QNetworkReply* reply);
    void ShowMovie(QMovie* movie);
    void PaintBuiltInBanner(QPainter& painter) const;

    QString m_wmode = QStringLiteral("Window");
    QString m_quality = QStringLiteral("High");
    QString m_scaleMode = QStringLiteral("ShowAll");
    QString m_allowNetworking = QStringLiteral("all");
    bool m_allowFullScreen = false;

    QNetworkAccessManager* m_network = nullptr; // created on the first network load
    QPointer<QNetworkReply> m_reply;            // the load in flight, if any
    QMovie* m_movie = nullptr;                  // the movie shown; null: built-in banner
    bool m_playRequested = false;
};
