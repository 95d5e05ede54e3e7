// The search page driven through the real engine, on scripted volumes. Each test function
// runs in a process of its own (the engine is built once per process): see CMakeLists.txt.
#include "BoxRecorder.h"
#include "OrvaList.h"
#include "platform/DriveMap.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/testing/ScriptedVolume.h"
#include "platform/Time.h"
#include "RowText.h"
#include "ScratchFolder.h"
#include "SearchDialog.h"
#include "ServiceInstance.h"
#include "VolumeSettings.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>
#include <QUrl>

#include <condition_variable>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

using namespace orva::platform::testing;

namespace
{
const QString kBuildStarted = QStringLiteral("首次运行，正在读取磁盘结构，请耐心等待 ...");
const QString kBuildFinished = QStringLiteral("初始化完成，可以正常使用");

QString CountText(int count)
{
    return QStringLiteral("共有符合的项目 %1 个").arg(count);
}

// 2010-04-14 07:29:28 UTC.
const FILETIME kWriteTime = FileTimeFromUnix(1271230168, 0);

// A gate that worker threads wait at until the test opens it.
class CGate
{
public:
    void Wait()
    {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_changed.wait(lock, [this] { return m_open; });
    }
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void Close()
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
        m_waiting = 0;
    }
    int Waiting()
    {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = true;
    int m_waiting = 0;
};

// Records every Query and GetResultItem; when armed, holds the next query inside the
// engine's result lock until released.
class CServiceRecorder final : public CServiceObserver
{
public:
    CServiceRecorder() { SetServiceObserver(this); }
    ~CServiceRecorder()
    {
        m_gate.Open();
        SetServiceObserver(nullptr);
    }

    void BeforeQuery(const std::u16string& keyword) override
    {
        bool hold = false;
        {
            std::lock_guard lock(m_mutex);
            m_queries << QString::fromStdU16String(keyword);
            hold = std::exchange(m_holdNext, false);
        }
        if (hold)
            m_gate.Wait();
    }
    void BeforeResultItem(DWORD /*index*/) override
    {
        std::lock_guard lock(m_mutex);
        ++m_resultItems;
    }

    void HoldNextQuery()
    {
        std::lock_guard lock(m_mutex);
        m_gate.Close();
        m_holdNext = true;
    }
    void Release() { m_gate.Open(); }
    void Reset()
    {
        std::lock_guard lock(m_mutex);
        m_queries.clear();
        m_resultItems = 0;
    }
    QStringList Queries()
    {
        std::lock_guard lock(m_mutex);
        return m_queries;
    }
    int ResultItems()
    {
        std::lock_guard lock(m_mutex);
        return m_resultItems;
    }

private:
    std::mutex m_mutex;
    QStringList m_queries;
    int m_resultItems = 0;
    bool m_holdNext = false;
    CGate m_gate;
};

// The main window as the page sees it: a dialog with the status-text slot.
class CMainWindowStub final : public QDialog
{
    Q_OBJECT

public:
    explicit CMainWindowStub(QStringList* texts) : m_texts(texts) {}

public slots:
    void OnSetStatusText(const QString& text) { *m_texts << text; }

private:
    QStringList* m_texts;
};

// One entry of a scripted volume: its path below the root ("docs\readme.txt").
struct TestEntry
{
    std::u16string path;
    bool folder = false;
    ULONGLONG size = 0;
};

std::u16string VolumeNameOf(char letter)
{
    return QStringLiteral("\\\\?\\Volume{0a5e7e57-0000-0000-0000-0000000000%1}\\")
        .arg(static_cast<int>(letter), 2, 16, QChar(u'0'))
        .toStdU16String();
}

// A scripted NTFS volume holding `entries` (parents listed before their children).
// Each enumeration answer stays well below the engine's 64 KiB buffer.
ScriptedVolume MakeVolume(char letter, DWORD serial, const std::vector<TestEntry>& entries)
{
    ScriptedVolume volume;
    volume.letter = letter;
    volume.serialNumber = serial;
    volume.volumeName = VolumeNameOf(letter);
    std::map<std::u16string, ULONGLONG> frnByPath;
    std::vector<BYTE> bytes = EnumHeader(0);
    ULONGLONG recordNumber = 0x40;
    for (const TestEntry& entry : entries)
    {
        if (bytes.size() > 0x8000)
        {
            std::memcpy(bytes.data(), &recordNumber, sizeof recordNumber);
            volume.enumAnswers.push_back(EnumAnswer{bytes, true, 0});
            bytes = EnumHeader(0);
        }
        const ULONGLONG frn = (1ull << 48) | recordNumber++;
        const size_t slash = entry.path.rfind(u'\\');
        const ULONGLONG parent =
            slash == std::u16string::npos ? volume.rootFrn : frnByPath.at(entry.path.substr(0, slash));
        const std::u16string name = slash == std::u16string::npos ? entry.path : entry.path.substr(slash + 1);
        const DWORD attributes = entry.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        AppendUsnRecord(bytes, frn, parent, attributes, name);
        frnByPath[entry.path] = frn;
        volume.attributes[u"\\" + entry.path] = {attributes,
                                                 kWriteTime,
                                                 kWriteTime,
                                                 kWriteTime,
                                                 static_cast<DWORD>(entry.size >> 32),
                                                 static_cast<DWORD>(entry.size)};
    }
    std::memcpy(bytes.data(), &recordNumber, sizeof recordNumber);
    volume.enumAnswers.push_back(EnumAnswer{bytes, true, 0});
    return volume;
}

// The same volume, whose enumeration waits at `gate` when the build asks for it.
ScriptedVolume MakeHeldVolume(char letter, DWORD serial, const std::vector<TestEntry>& entries,
                              std::shared_ptr<CGate> gate)
{
    ScriptedVolume volume = MakeVolume(letter, serial, entries);
    auto answers = std::make_shared<std::vector<EnumAnswer>>(std::move(volume.enumAnswers));
    auto served = std::make_shared<size_t>(0);
    volume.enumerate = [answers, served, gate](const MFT_ENUM_DATA_V0&, DWORD)
    {
        if (*served == 0)
            gate->Wait();
        if (*served < answers->size())
            return (*answers)[(*served)++];
        return EnumAnswer{{}, false, ERROR_HANDLE_EOF};
    };
    return volume;
}

std::u16string SettingsPath()
{
    WCHAR path[MAX_PATH] = {};
    GetSettingsFilePath(path);
    return path;
}

void ListInSettings(char letter, DWORD serial)
{
    AppendVolumeSection(SettingsPath().c_str(), serial, VolumeNameOf(letter).c_str());
}

// An NTFS image made by orva-mkimage in the current folder from `entries`, each written
// with kWriteTime, attached under `letter` and listed in the settings file.
bool AttachImageOf(char letter, const std::vector<TestEntry>& entries)
{
    const QString listPath = QDir::current().filePath(QStringLiteral("%1.list").arg(letter));
    const QString imagePath = QDir::current().filePath(QStringLiteral("%1.img").arg(letter));
    QFile list(listPath);
    if (!list.open(QIODevice::WriteOnly))
        return false;
    const qint64 unixTime = UnixSecondsFromFileTime(kWriteTime);
    for (const TestEntry& entry : entries)
    {
        const QString path = QString::fromStdU16String(entry.path).replace(u'\\', u'/');
        list.write(QStringLiteral("%1%2\t%3\t%4\n")
                       .arg(path, entry.folder ? u"/"_qs : QString())
                       .arg(entry.size)
                       .arg(unixTime)
                       .toUtf8());
    }
    list.close();
    QProcess mkimage;
    mkimage.start(QStringLiteral(ORVA_MKIMAGE), {u"--from-list"_qs, listPath, imagePath});
    if (!mkimage.waitForFinished(60000) || mkimage.exitCode() != 0)
    {
        qWarning() << mkimage.readAllStandardError();
        return false;
    }
    if (!orva::platform::AttachImage(letter, imagePath.toStdString(), /*partition=*/0))
        return false;
    for (const orva::platform::VolumeDescription& volume : orva::platform::ListVolumes())
        if (volume.letter == letter)
        {
            AppendVolumeSection(SettingsPath().c_str(), volume.serialNumber, volume.volumeName.c_str());
            return true;
        }
    return false;
}

// Every name the list view shows.
QStringList ListedNames(const QAbstractItemModel* model)
{
    QStringList names;
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names;
}

const std::vector<TestEntry> kSmallTree = {
    {u"docs", true},   {u"docs\\readme.txt", false, 2048},   {u"docs\\notes.txt", false, 1025},
    {u"photos", true}, {u"photos\\cat.png", false, 1048576}, {u"empty.txt", false, 0},
};

int CountContaining(const std::vector<TestEntry>& entries, const QString& keyword)
{
    int count = 0;
    for (const TestEntry& entry : entries)
    {
        const QString path = QString::fromStdU16String(entry.path);
        if (path.section(u'\\', -1).contains(keyword, Qt::CaseInsensitive))
            ++count;
    }
    return count;
}

// Waits for every worker thread to be done, letting the UI thread answer them meanwhile.
bool WaitForWorkers(int timeoutMs = 10000)
{
    return QTest::qWaitFor([] { return ActiveServiceWork() == 0; }, timeoutMs);
}

// The page inside a stand-in main window, as the main window creates it.
class CPageUnderTest
{
public:
    CPageUnderTest()
    {
        window = new CMainWindowStub(&texts);
        window->resize(820, 640);
        tab = new QWidget(window);
        tab->setGeometry(0, 0, 820, 640);
        page = new CSearchDialog(window);
        page->Create(107, tab);
        page->setGeometry(0, 0, 800, 600);
        page->show();
        window->show();
    }
    ~CPageUnderTest()
    {
        delete window;
        WaitForWorkers();
    }

    // The first paint registers the volumes and starts the build.
    void Start() { page->grab(); }
    // Starts and waits for the build and its first query.
    bool StartAndWait()
    {
        Start();
        return QTest::qWaitFor([this] { return texts.size() >= 3; }, 20000) && WaitForWorkers();
    }
    // Types `text` and waits for its query.
    bool Search(const QString& text)
    {
        Keyword()->setText(text);
        return WaitForWorkers();
    }

    QLineEdit* Keyword() const { return page->findChild<QLineEdit*>(QStringLiteral("keywordBox")); }
    QPushButton* Button() const { return page->findChild<QPushButton*>(QStringLiteral("searchButton")); }
    COrvaList* List() const { return page->findChild<COrvaList*>(QStringLiteral("resultList")); }
    QAbstractItemModel* Model() const { return List()->model(); }
    QString Cell(int row, int column) const { return Model()->index(row, column).data().toString(); }
    QIcon Icon(int row) const { return Model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>(); }
    int RowNamed(const QString& name) const
    {
        for (int row = 0; row < Model()->rowCount(); ++row)
            if (Cell(row, 0) == name)
                return row;
        return -1;
    }

    QStringList texts;
    CMainWindowStub* window;
    QWidget* tab;
    CSearchDialog* page;
};
} // namespace

class SearchPageTest final : public QObject
{
    Q_OBJECT

public slots:
    void OpenUrl(const QUrl& url) { m_openedUrls << url; }

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void sizeText_data();
    void sizeText();
    void dateText_data();
    void dateText();
    void keywordComparison();

    void statusTextsAndFullListing();
    void typingDuringBuild();
    void queryHandshake();
    void rowFetching();
    void pageLayoutAndKeys();
    void doubleClick();
    void brokenTimingLog();
    void negativeVolumeCount();
    void closingWhileWorkersRun();
    void exitDuringBuild();
    void exitDuringBuildChild();
    void typingStress();

private:
    QList<QUrl> m_openedUrls;
};

void SearchPageTest::initTestCase()
{
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "OpenUrl");
}

void SearchPageTest::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void SearchPageTest::cleanup()
{
    m_openedUrls.clear();
}

void SearchPageTest::sizeText_data()
{
    QTest::addColumn<qlonglong>("size");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 bytes") << 0ll << false << "1 KB";
    QTest::newRow("1024 bytes") << 1024ll << false << "1 KB";
    QTest::newRow("1025 bytes") << 1025ll << false << "1 KB";
    QTest::newRow("2047 bytes") << 2047ll << false << "1 KB";
    QTest::newRow("2048 bytes") << 2048ll << false << "2 KB";
    QTest::newRow("1 MiB") << 1048576ll << false << "1024 KB";
    QTest::newRow("5 GiB") << 5368709120ll << false << "5242880 KB";
    QTest::newRow("negative") << -5ll << false << "1 KB";
    QTest::newRow("folder") << 4096ll << true << "";
}

void SearchPageTest::sizeText()
{
    QFETCH(qlonglong, size);
    QFETCH(bool, folder);
    QFETCH(QString, text);
    QCOMPARE(FormatSizeText(size, folder), text);
}

void SearchPageTest::dateText_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qlonglong>("unixSeconds");
    QTest::addColumn<QString>("text");
    // CST-8: eight hours east of UTC, no daylight saving.
    QTest::newRow("UTC+8") << QByteArray("CST-8") << 1271230168ll << "2010-04-14 15:29:28";
    QTest::newRow("leading zeros") << QByteArray("UTC0") << 1233536645ll << "2009-02-02 01:04:05";
    QTest::newRow("date line crossed") << QByteArray("CST-8") << 1293839999ll << "2011-01-01 07:59:59";
    QTest::newRow("daylight saving") << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3") << 1277985600ll
                                     << "2010-07-01 14:00:00";
}

void SearchPageTest::dateText()
{
    QFETCH(QByteArray, zone);
    QFETCH(qlonglong, unixSeconds);
    QFETCH(QString, text);
    const QByteArray previous = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    const QString formatted = FormatDateText(FileTimeFromUnix(unixSeconds, 0));
    qputenv("TZ", previous);
    tzset();
    QCOMPARE(formatted, text);
}

void SearchPageTest::keywordComparison()
{
    const struct
    {
        const char16_t* left;
        const char16_t* right;
        bool differ;
    } cases[] = {
        {u"abc", u"abc", false},   {u"abc", u"ABC", false}, {u"aBc", u"AbC", false}, {u"abc", u"abcd", true},
        {u"abc", u"abd", true},    {u"", u"", false},       {u"é", u"É", true},      {u"[", u"{", true},
        {u"文件", u"文件", false}, {u"a b", u"a  b", true},
    };
    for (const auto& c : cases)
        QVERIFY2(KeywordsDiffer(QString::fromUtf16(c.left), QString::fromUtf16(c.right)) == c.differ,
                 qPrintable(QString::fromUtf16(c.left) + u"/"_qs + QString::fromUtf16(c.right)));
}

void SearchPageTest::statusTextsAndFullListing()
{
    ScratchFolder scratch;
    // Three sections, the middle one naming a disk that is gone.
    const std::vector<TestEntry> second = {{u"t1.txt"}, {u"more", true}, {u"more\\t2.txt"}};
    QVERIFY(AttachImageOf('M', kSmallTree));
    AppendVolumeSection(SettingsPath().c_str(), 0xDEADBEEF,
                        u"\\\\?\\Volume{dead0000-0000-0000-0000-000000000000}\\");
    QVERIFY(AttachImageOf('N', second));

    BoxRecorder boxes;
    CPageUnderTest test;
    QVERIFY(test.StartAndWait());
    // Every entry of both volumes, their system files included.
    const int all = static_cast<int>(GetServiceInstance()->GetItemCount());
    QVERIFY(all >= static_cast<int>(kSmallTree.size() + second.size()));
    QCOMPARE(test.texts, (QStringList{kBuildStarted, kBuildFinished, CountText(all)}));
    QVERIFY2(boxes.boxes.isEmpty(), qPrintable(boxes.Texts().join(u'\n')));
    QCOMPARE(test.Model()->rowCount(), all);
    const QStringList names = ListedNames(test.Model());
    for (const auto* entries : {&kSmallTree, &second})
        for (const TestEntry& entry : *entries)
        {
            const QString name = QString::fromStdU16String(entry.path).section(u'\\', -1);
            QVERIFY2(names.contains(name), qPrintable(name + u" not in "_qs + names.join(u' ')));
        }
    // Folders first, then files.
    const int firstFile = test.RowNamed(QStringLiteral("empty.txt"));
    QVERIFY(test.RowNamed(QStringLiteral("docs")) < firstFile &&
            test.RowNamed(QStringLiteral("more")) < firstFile);
}

void SearchPageTest::typingDuringBuild()
{
    ScratchFolder scratch;
    auto enumeration = std::make_shared<CGate>();
    enumeration->Close();
    AddScriptedVolume(MakeHeldVolume('S', 0x11111111, kSmallTree, enumeration));
    ListInSettings('S', 0x11111111);

    CPageUnderTest test;
    // The build must end before the page goes, whatever the outcome.
    const auto openAtEnd = qScopeGuard([enumeration] { enumeration->Open(); });
    test.Start();
    QTRY_COMPARE(enumeration->Waiting(), 1);
    QCOMPARE(test.texts, QStringList{kBuildStarted});

    test.Keyword()->setText(QStringLiteral("TXT"));
    QTRY_COMPARE(test.texts.size(), 2);
    QCOMPARE(test.texts, (QStringList{kBuildStarted, CountText(0)}));
    QCOMPARE(test.Model()->rowCount(), 0);

    enumeration->Open();
    QTRY_COMPARE_WITH_TIMEOUT(test.texts.size(), 4, 20000);
    const int matches = CountContaining(kSmallTree, QStringLiteral("txt"));
    QCOMPARE(test.texts, (QStringList{kBuildStarted, CountText(0), kBuildFinished, CountText(matches)}));
    QVERIFY(WaitForWorkers());
    QCOMPARE(test.Model()->rowCount(), matches);
}

void SearchPageTest::queryHandshake()
{
    ScratchFolder scratch;
    std::vector<TestEntry> entries = kSmallTree;
    for (const char16_t* name : {u"a", u"ab", u"abc", u"ABCD.txt", u"xabcx", u"café", u"CAFÉ.doc"})
        entries.push_back({name});
    AddScriptedVolume(MakeVolume('S', 0x11111111, entries));
    ListInSettings('S', 0x11111111);
    CServiceRecorder recorder;
    CPageUnderTest test;
    QVERIFY(test.StartAndWait());

    const struct
    {
        const char* name;
        QString first;
        QStringList typedWhileRunning;
        QStringList queries;
    } cases[] = {
        {"a, ab, abc: the first and the last", u"a"_qs, {u"ab"_qs, u"abc"_qs}, {u"a"_qs, u"abc"_qs}},
        {"a letter typed and deleted: none", u"ab"_qs, {u"abc"_qs, u"ab"_qs}, {u"ab"_qs}},
        {"ASCII case only: none", u"abc"_qs, {u"ABC"_qs, u"aBc"_qs}, {u"abc"_qs}},
        {"other case changes count", u"café"_qs, {u"cafÉ"_qs}, {u"café"_qs, u"cafÉ"_qs}},
        {"back to the text of the running query", u"ab"_qs, {u""_qs, u"ab"_qs}, {u"ab"_qs}},
    };
    for (const auto& c : cases)
    {
        QVERIFY(test.Search(QStringLiteral("neutral")));
        recorder.Reset();
        recorder.HoldNextQuery();
        test.Keyword()->setText(c.first);
        QTRY_COMPARE(recorder.Queries().size(), 1);
        for (const QString& text : c.typedWhileRunning)
        {
            test.Keyword()->setText(text);
            QCoreApplication::processEvents();
        }
        recorder.Release();
        QVERIFY(WaitForWorkers());
        QCOMPARE(recorder.Queries(), c.queries);
        const int matches = CountContaining(entries, c.queries.last());
        QVERIFY2(test.texts.last() == CountText(matches), c.name);
        QCOMPARE(test.Model()->rowCount(), matches);
    }

    // The keyword box is read into 260 units: a longer keyword is cut to 259.
    recorder.Reset();
    QVERIFY(test.Search(QString(300, u'x')));
    QCOMPARE(recorder.Queries(), QStringList{QString(259, u'x')});
}

void SearchPageTest::rowFetching()
{
    ScratchFolder scratch;
    QVERIFY(AttachImageOf('S', kSmallTree));
    CServiceRecorder recorder;
    CPageUnderTest test;
    QVERIFY(test.StartAndWait());
    QHeaderView* header = test.List()->horizontalHeader();
    const QStringList headings = {u"名称"_qs, u"所在路径"_qs, u"大小"_qs, u"更改日期"_qs};
    const int widths[] = {200, 500, 80, 130};
    QCOMPARE(header->count(), 4);
    for (int column = 0; column < 4; ++column)
    {
        QCOMPARE(test.Model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
        QCOMPARE(header->sectionSize(column), widths[column]);
    }

    // The four texts and the icon of a row: one engine call.
    const struct
    {
        QString name;
        QString folder;
        QString size;
    } rows[] = {
        {u"readme.txt"_qs, u"S:\\docs"_qs, u"2 KB"_qs},
        {u"notes.txt"_qs, u"S:\\docs"_qs, u"1 KB"_qs},
        {u"cat.png"_qs, u"S:\\photos"_qs, u"1024 KB"_qs},
        {u"empty.txt"_qs, u"S:"_qs, u"1 KB"_qs},
        {u"docs"_qs, u"S:"_qs, u""_qs},
    };
    for (const auto& expected : rows)
    {
        const int row = test.RowNamed(expected.name);
        QVERIFY2(row >= 0, qPrintable(expected.name));
        test.Cell(row == 0 ? 1 : 0, 0); // another row into the cache
        recorder.Reset();
        QCOMPARE(test.Cell(row, 0), expected.name);
        QCOMPARE(test.Cell(row, 1), expected.folder);
        QCOMPARE(test.Cell(row, 2), expected.size);
        QCOMPARE(test.Cell(row, 3), FormatDateText(kWriteTime));
        QVERIFY(!test.Icon(row).isNull());
        QCOMPARE(recorder.ResultItems(), 1);
    }

    // One icon per type, one for all folders.
    const auto iconKey = [&](const char16_t* name)
    { return test.Icon(test.RowNamed(QString::fromUtf16(name))).cacheKey(); };
    QCOMPARE(iconKey(u"readme.txt"), iconKey(u"notes.txt"));
    QCOMPARE(iconKey(u"docs"), iconKey(u"photos"));
    QVERIFY(iconKey(u"docs") != iconKey(u"readme.txt"));

    // Painting fetches each visible row once.
    QVERIFY(test.Search(QStringLiteral(".txt")));
    const int matches = CountContaining(kSmallTree, QStringLiteral(".txt"));
    QCOMPARE(test.Model()->rowCount(), matches);
    recorder.Reset();
    test.List()->grab();
    QCOMPARE(recorder.ResultItems(), matches);

    // Every new count empties the row cache, even when the count stays the same.
    QVERIFY(test.Search(QStringLiteral("readme")));
    QCOMPARE(test.Cell(0, 0), QStringLiteral("readme.txt"));
    QVERIFY(test.Search(QStringLiteral("cat")));
    QCOMPARE(test.Model()->rowCount(), 1);
    QCOMPARE(test.Cell(0, 0), QStringLiteral("cat.png"));
}

void SearchPageTest::pageLayoutAndKeys()
{
    ScratchFolder scratch;
    AddScriptedVolume(MakeVolume('S', 0x11111111, kSmallTree));
    ListInSettings('S', 0x11111111);
    CServiceRecorder recorder;
    CPageUnderTest test;
    QVERIFY(test.StartAndWait());

    test.page->resize(600, 400);
    QCOMPARE(test.List()->geometry(), QRect(11, 50, 578, 339));
    QCOMPARE(test.page->palette().color(QPalette::Base), test.page->grab().toImage().pixelColor(5, 45));

    // Enter searches, Esc does nothing; neither closes the main window.
    test.window->activateWindow();
    test.Keyword()->setFocus();
    recorder.Reset();
    QTest::keyClick(test.Keyword(), Qt::Key_Escape);
    QTest::keyClick(test.List(), Qt::Key_Escape);
    QVERIFY(test.window->isVisible());
    QCOMPARE(test.window->result(), 0);
    QTest::keyClick(test.Keyword(), Qt::Key_Return);
    QVERIFY(WaitForWorkers());
    QTest::keyClick(test.List(), Qt::Key_Enter);
    QVERIFY(WaitForWorkers());
    QTest::mouseClick(test.Button(), Qt::LeftButton);
    QVERIFY(WaitForWorkers());
    QVERIFY(test.window->isVisible());
    QCOMPARE(test.window->result(), 0);
    QCOMPARE(recorder.Queries(), (QStringList{u""_qs, u""_qs, u""_qs}));
    QCOMPARE(test.texts.last(), CountText(static_cast<int>(kSmallTree.size())));
}

void SearchPageTest::doubleClick()
{
    ScratchFolder scratch;
    AddScriptedVolume(MakeVolume('S', 0x11111111, kSmallTree));
    ListInSettings('S', 0x11111111);
    BoxRecorder boxes;
    CPageUnderTest test;
    QVERIFY(test.StartAndWait());
    COrvaList* list = test.List();
    const auto doubleClickAt = [list](QPoint where)
    {
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, where);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, where);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, where);
    };

    // Outside any row: nothing at all.
    doubleClickAt(QPoint(5, list->viewport()->height() - 3));
    QVERIFY(m_openedUrls.isEmpty());
    QVERIFY(boxes.boxes.isEmpty());

    // An entry of a volume that is not mounted cannot be handed to a program: the user
    // is told, with the entry's whole path.
    const int row = test.RowNamed(QStringLiteral("readme.txt"));
    doubleClickAt(list->visualRect(test.Model()->index(row, 1)).center());
    QVERIFY(m_openedUrls.isEmpty());
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY2(boxes.boxes[0].text.contains(u"S:\\docs\\readme.txt"_qs), qPrintable(boxes.boxes[0].text));
}

void SearchPageTest::brokenTimingLog()
{
    ScratchFolder scratch;
    // A folder where the timing log should be: the build's first log entry fails.
    QVERIFY(QDir().mkdir(QStringLiteral("Perf.log")));
    AddScriptedVolume(MakeVolume('S', 0x11111111, kSmallTree));
    ListInSettings('S', 0x11111111);
    CPageUnderTest test;
    test.Start();
    QTRY_COMPARE_WITH_TIMEOUT(test.texts.size(), 2, 20000);
    QVERIFY(WaitForWorkers());
    QCOMPARE(test.texts[0], kBuildStarted);
    QVERIFY2(test.texts[1].startsWith(u"索引未能建立"_qs) && test.texts[1].contains(u"Perf.log"_qs),
             qPrintable(test.texts[1]));
    QCOMPARE(test.texts.size(), 2);

    QVERIFY(test.Search(QStringLiteral("txt")));
    QCOMPARE(test.texts.last(), CountText(0));
    QCOMPARE(test.Model()->rowCount(), 0);
    QVERIFY(QDir().rmdir(QStringLiteral("Perf.log")));
}

void SearchPageTest::negativeVolumeCount()
{
    ScratchFolder scratch;
    AddScriptedVolume(MakeVolume('S', 0x11111111, kSmallTree));
    ListInSettings('S', 0x11111111);
    scratch.SetVolumeCount(QStringLiteral("-1"));
    CPageUnderTest test;
    QVERIFY(test.StartAndWait());
    QCOMPARE(test.texts, (QStringList{kBuildStarted, kBuildFinished, CountText(0)}));
}

void SearchPageTest::closingWhileWorkersRun()
{
    ScratchFolder scratch;
    auto enumeration = std::make_shared<CGate>();
    enumeration->Close();
    AddScriptedVolume(MakeHeldVolume('S', 0x11111111, kSmallTree, enumeration));
    ListInSettings('S', 0x11111111);
    CServiceRecorder recorder;
    QStringList texts;
    {
        auto test = std::make_unique<CPageUnderTest>();
        const auto openAtEnd = qScopeGuard(
            [&]
            {
                enumeration->Open();
                recorder.Release();
            });
        test->Start();
        QTRY_COMPARE(enumeration->Waiting(), 1);
        recorder.HoldNextQuery();
        test->Keyword()->setText(QStringLiteral("txt"));
        QTRY_COMPARE(recorder.Queries().size(), 1);
        texts = test->texts;
        // The window goes while the build and a query are inside the engine.
        delete test->window;
        test->window = nullptr;
        QCOMPARE(ActiveServiceWork(), 2);
        enumeration->Open();
        recorder.Release();
        QVERIFY(WaitForWorkers());
        QCOMPARE(texts, QStringList{kBuildStarted});
    }
    QCOMPARE(ActiveServiceWork(), 0);
}

// The program ends while the build, which cannot be interrupted, is still inside the
// engine: in a process of its own (this program, running exitDuringBuildChild), which
// must end at once and with success rather than wait for the build.
void SearchPageTest::exitDuringBuild()
{
    ScratchFolder scratch;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVA_SEARCH_EXIT_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {u"exitDuringBuildChild"_qs});
    QVERIFY(child.waitForStarted());
    const bool finished = child.waitForFinished(20000);
    const QByteArray output = child.readAll();
    if (!finished)
        child.kill();
    QVERIFY2(finished, output.constData());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(output.contains("PASS   : SearchPageTest::exitDuringBuildChild()"), output.constData());
}

void SearchPageTest::exitDuringBuildChild()
{
    if (qEnvironmentVariableIsEmpty("ORVA_SEARCH_EXIT_CHILD"))
        QSKIP("runs only as the child of exitDuringBuild");
    // The build waits here for ever: only the end of the process ends it.
    auto enumeration = std::make_shared<CGate>();
    enumeration->Close();
    AddScriptedVolume(MakeHeldVolume('S', 0x11111111, kSmallTree, enumeration));
    ListInSettings('S', 0x11111111);
    // Left undeleted: its destructor would wait for the build.
    auto* test = new CPageUnderTest;
    test->Start();
    QTRY_COMPARE(enumeration->Waiting(), 1);
    delete test->window;
    QCOMPARE(ActiveServiceWork(), 1);
}

void SearchPageTest::typingStress()
{
    ScratchFolder scratch;
    // A few thousand names over a small alphabet, so that keywords match some.
    std::vector<TestEntry> entries;
    QRandomGenerator random(20261211);
    const auto randomName = [&random](int length)
    {
        std::u16string name;
        for (int i = 0; i < length; ++i)
            name += static_cast<char16_t>(u"abcdeABCDE"[random.bounded(10)]);
        return name;
    };
    for (int folder = 0; folder < 50; ++folder)
    {
        const std::u16string folderName = u"dir" + randomName(4) + u"_" +
                                          std::u16string(1, char16_t(u'0' + folder % 10)) +
                                          std::u16string(1, char16_t(u'a' + folder / 10));
        entries.push_back({folderName, true});
        for (int file = 0; file < 60; ++file)
            entries.push_back({folderName + u"\\" + randomName(6) + u".txt", false, 100u * file});
    }
    AddScriptedVolume(MakeVolume('S', 0x11111111, entries));
    ListInSettings('S', 0x11111111);
    CPageUnderTest test;
    QVERIFY(test.StartAndWait());

    QElapsedTimer clock;
    clock.start();
    int steps = 0;
    while (clock.elapsed() < 4000)
    {
        QString text = test.Keyword()->text();
        if (text.size() < 4 && random.bounded(3) != 0)
            text += QChar(u"abcdeABC"[random.bounded(8)]);
        else
            text.chop(1 + random.bounded(2));
        test.Keyword()->setText(text);
        const int rows = test.Model()->rowCount();
        if (rows > 0)
            test.List()->scrollTo(test.Model()->index(random.bounded(rows), 0));
        test.List()->grab();
        QCoreApplication::processEvents();
        ++steps;
    }
    QVERIFY(WaitForWorkers());
    QVERIFY(steps > 20);

    const QString keyword = test.Keyword()->text();
    const int matches = CountContaining(entries, keyword);
    QCOMPARE(test.texts.last(), CountText(matches));
    QCOMPARE(test.Model()->rowCount(), matches);
    for (int row = 0; row < std::min(matches, 50); ++row)
        QVERIFY(test.Cell(row, 0).contains(keyword, Qt::CaseInsensitive));
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    SearchPageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SearchPageTest.moc"
