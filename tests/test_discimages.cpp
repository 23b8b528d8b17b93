// Disc images and audio discs read back: ISO images made here by xorriso from a tree of
// 10,000 files with Cyrillic names, an empty UDF volume made by mkudffs, a BIN/CUE written
// here with CD-TEXT in the encodings discs use, what cannot be read at all, and a stop
// asked for in the middle.
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>
#include "contents/readers.h"
namespace {
namespace fs = std::filesystem;
// What a reader handed, by path from the root ("folder/" for folders): size, marks and,
// for files, the modification time.
class CollectingSink : public store::ContentsSink {
public:
    store::VolumeFacts facts;
    std::map<std::string, std::string> entries;
    std::vector<store::Track> tracks;
    int stopAfter = -1;  // entries and tracks handed before a stop is asked
    int handed = 0;
    void volume(const store::VolumeFacts& volume) override { facts = volume; }
    store::FolderId folder(store::FolderId parent, std::string_view name, std::optional<int64_t>,
                           unsigned marks) override {
        ++handed;
        paths_.push_back(paths_.at(parent) + std::string(name) + "/");
        entries[paths_.back()] = describe(std::nullopt, std::nullopt, marks);
        return static_cast<store::FolderId>(paths_.size() - 1);
    }
    void file(store::FolderId parent, std::string_view name, std::optional<int64_t> size,
              std::optional<int64_t> modified, unsigned marks) override {
        ++handed;
        entries[paths_.at(parent) + std::string(name)] = describe(size, modified, marks);
    }
    void track(const store::Track& track) override {
        ++handed;
        tracks.push_back(track);
    }
    bool stopRequested() const override { return stopAfter >= 0 && handed >= stopAfter; }

    static std::string describe(std::optional<int64_t> size, std::optional<int64_t> modified,
                                unsigned marks) {
        std::string text = size ? std::to_string(*size) : "-";
        text += " ";
        text += modified ? std::to_string(*modified) : "-";
        text += " marks ";
        text += std::to_string(marks);
        return text;
    }

private:
    std::vector<std::string> paths_{""};
};

// The entry's own modification time, a link's not its target's.
int64_t ownModified(const fs::path& path) {
    struct stat facts {};
    return ::lstat(path.c_str(), &facts) == 0 ? facts.st_mtime : -1;
}

// The tree as an image that keeps its names should list it.
std::map<std::string, std::string> listTree(const fs::path& root, const std::string& prefix) {
    std::map<std::string, std::string> listed;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = prefix + fs::relative(entry.path(), root).string();
        if (entry.is_symlink()) {
            listed[path] = CollectingSink::describe(fs::read_symlink(entry.path()).string().size(),
                                                    ownModified(entry.path()), store::kLink);
        } else if (entry.is_directory()) {
            listed[path + "/"] = CollectingSink::describe(std::nullopt, std::nullopt, 0);
        } else {
            const bool utf8 = QString::fromUtf8(path).toUtf8().toStdString() == path;
            listed[path] = CollectingSink::describe(entry.file_size(), ownModified(entry.path()),
                                                    utf8 ? 0u : unsigned{store::kNotUtf8});
        }
    }
    return listed;
}
std::vector<int64_t> fileSizes(const std::map<std::string, std::string>& entries) {
    std::vector<int64_t> sizes;
    for (const auto& [path, description] : entries)
        if (!path.ends_with('/')) sizes.push_back(std::stoll(description));
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}
// The first few differences between two listings, for a readable failure.
QString differences(const std::map<std::string, std::string>& expected,
                    const std::map<std::string, std::string>& actual) {
    QStringList found;
    for (const auto& [path, description] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end()) {
            found << QString::fromStdString("missing " + path);
        } else if (it->second != description) {
            found << QString::fromStdString(path + ": " + it->second + ", expected " + description);
        }
    }
    for (const auto& [path, description] : actual)
        if (!expected.contains(path)) found << QString::fromStdString("extra " + path);
    return found.mid(0, 5).join("; ");
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Windows-1251 for the Russian alphabet, written out here so that the test does not lean on
// the converter the reader uses.
QByteArray toCp1251(const QString& text) {
    QByteArray bytes;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x0410 && u <= 0x044F) {
            bytes += static_cast<char>(0xC0 + (u - 0x0410));
        } else if (u == u'Ё' || u == u'ё') {
            bytes += static_cast<char>(u == u'Ё' ? 0xA8 : 0xB8);
        } else {
            bytes += static_cast<char>(u);
        }
    }
    return bytes;
}
// The MusicBrainz disc id worked out from its definition: SHA-1 over the table of contents
// in hexadecimal (first and last track, the lead-out, then 99 track offsets), in base64
// with "._-" for "+/=".
QString musicBrainzId(int first, int last, const std::vector<int>& offsetsWithLeadOut) {
    QByteArray toc = QByteArray::number(first, 16).rightJustified(2, '0').toUpper() +
                     QByteArray::number(last, 16).rightJustified(2, '0').toUpper();
    for (int i = 0; i < 100; ++i) {
        const int offset = i < int(offsetsWithLeadOut.size()) ? offsetsWithLeadOut[i] : 0;
        toc += QByteArray::number(offset, 16).rightJustified(8, '0').toUpper();
    }
    QByteArray id = QCryptographicHash::hash(toc, QCryptographicHash::Sha1).toBase64();
    return QString::fromLatin1(id.replace('+', '.').replace('/', '_').replace('=', '-'));
}
constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 50;
constexpr int kDepth = 12;
const std::vector<int> kTrackSectors = {1000, 2345, 777};

}  // namespace

class DiscImagesTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    fs::path tree_;  // 10,000 files under 200 folders, one branch 12 deep, a hard link
    fs::path odd_;   // a link and a name that is not UTF-8: only Rock Ridge keeps them

    fs::path at(const char* name) const { return fs::path(dir_.path().toStdString()) / name; }

    // xorriso writes Rock Ridge unless told before its mkisofs emulation not to.
    void makeImage(bool rockRidge, const QStringList& options, const QString& label,
                   const fs::path& image, bool withOdd = false) {
        QStringList arguments = rockRidge ? QStringList() : QStringList{"-rockridge", "off"};
        arguments << QStringList{"-as", "mkisofs"} << options << "-V" << label << "-o"
                  << QString::fromStdString(image.string()) << "-graft-points"
                  << "/=" + QString::fromStdString(tree_.string());
        if (withOdd) arguments << "/особое=" + QString::fromStdString(odd_.string());
        std::error_code error;
        fs::remove(image, error);
        run("xorriso", arguments);
    }
    // The image makers read names and labels as UTF-8 only in a UTF-8 locale.
    static void run(const QString& program, const QStringList& arguments) {
        QProcess tool;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LC_ALL", "C.UTF-8");
        tool.setProcessEnvironment(environment);
        tool.start(program, arguments);
        QVERIFY(tool.waitForFinished(120000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().right(500).constData());
    }

    // A BIN of silence, three tracks, and its CUE sheet with CD-TEXT in `encoding`.
    fs::path makeCue(const QString& cueName, const QString& binName, const QString& encoding,
                     const QStringList& titles) {
        const fs::path bin = at("") / binName.toStdString();
        int64_t sectors = 0;
        for (int length : kTrackSectors) sectors += length;
        writeFile(bin, std::string(sectors * 2352, '\0'));
        QString sheet = "CATALOG 4600123456789\nPERFORMER \"" + titles[1] + "\"\nTITLE \"" +
                        titles[0] + "\"\nFILE \"" + binName + "\" BINARY\n";
        int start = 0;
        for (int track = 1; track <= 3; ++track) {
            sheet += QString("  TRACK %1 AUDIO\n    TITLE \"%2\"\n    PERFORMER \"%3\"\n")
                         .arg(track, 2, 10, QChar('0'))
                         .arg(titles[2 * track], titles[2 * track + 1]);
            sheet += QString("    INDEX 01 %1:%2:%3\n")
                         .arg(start / 75 / 60, 2, 10, QChar('0'))
                         .arg(start / 75 % 60, 2, 10, QChar('0'))
                         .arg(start % 75, 2, 10, QChar('0'));
            start += kTrackSectors[track - 1];
        }
        const fs::path cue = at("") / cueName.toStdString();
        writeFile(cue, (encoding == "Windows-1251" ? toCp1251(sheet)
                        : encoding == "ISO-8859-1" ? sheet.toLatin1()
                                                   : sheet.toUtf8())
                           .toStdString());
        return cue;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        for (const char* tool : {"xorriso", "mkudffs", "genisoimage"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(),
                     "xorriso, mkudffs and genisoimage make the test images: scripts/deps test");
        tree_ = at("tree");
        for (int f = 0; f < kFolders; ++f) {
            const fs::path folder =
                tree_ / QString("Раздел %1").arg(f / 10, 2, 10, QChar('0')).toStdString() /
                QString("Подраздел %1").arg(f % 10).toStdString();
            fs::create_directories(folder);
            for (int i = 0; i < kFilesPerFolder; ++i) {
                const int n = f * kFilesPerFolder + i;
                writeFile(folder / QString("файл №%1.txt").arg(n).toStdString(),
                          std::string(n * 7919 % 4099, 'x'));
            }
        }
        fs::path deep = tree_ / "Раздел 00";
        for (int level = 1; level <= kDepth; ++level)
            deep /= QString("г%1").arg(level).toStdString();
        fs::create_directories(deep);
        writeFile(deep / "дно.txt", "на самом дне");
        fs::create_hard_link(tree_ / "Раздел 00/Подраздел 0/файл №7.txt",
                             tree_ / "Раздел 19/ещё раз седьмой.txt");
        odd_ = at("odd");
        fs::create_directories(odd_);
        fs::create_directory_symlink("../Раздел 01", odd_ / "ссылка на раздел");
        writeFile(odd_ / "caf\xE9.txt", "latin-1");
    }
    // Qt cannot name, so cannot remove, the file whose name is not UTF-8.
    void cleanupTestCase() { fs::remove_all(odd_); }

    void imageReadsBack_data() {
        QTest::addColumn<bool>("rockRidge");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("keepsNames");
        QTest::newRow("Rock Ridge and Joliet")
            << true << QStringList{"-J", "-R"} << "Мой диск 2026" << true;
        // Joliet's label holds 16 letters: a longer one is the primary descriptor's.
        QTest::newRow("Joliet only")
            << false << QStringList{"-J"} << "COLLECTION_2026_DISC_07" << true;
        QTest::newRow("ISO 9660 level 1")
            << false << QStringList{"-iso-level", "1"} << "KORVALEN_1" << false;
    }
    void imageReadsBack() {
        QFETCH(bool, rockRidge);
        QFETCH(QStringList, options);
        QFETCH(QString, label);
        QFETCH(bool, keepsNames);
        const fs::path image = at("readback.iso");
        makeImage(rockRidge, options, label, image, rockRidge);
        if (QTest::currentTestFailed()) return;

        CollectingSink sink;
        contents::readDiscImage(image, sink);
        QCOMPARE(QString::fromStdString(sink.facts.label), label);
        QCOMPARE(sink.facts.fileSystem, "iso9660");
        QCOMPARE(sink.facts.capacity, std::optional<int64_t>(fs::file_size(image)));
        auto expected = listTree(tree_, "");
        if (rockRidge) {
            expected.merge(listTree(odd_, "особое/"));
            expected["особое/"] = CollectingSink::describe(std::nullopt, std::nullopt, 0);
        }
        if (keepsNames) {
            const QString diff = differences(expected, sink.entries);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
        } else {
            QCOMPARE(fileSizes(sink.entries), fileSizes(expected));
        }
    }

    // A Joliet name broken on the disc (a lone UTF-16 surrogate) is kept, visibly and
    // marked, with its size; its neighbours are read as they are.
    void damagedEntryKeptMarked() {
        const fs::path small = at("small");
        fs::create_directories(small);
        writeFile(small / "qqqq.txt", "1");
        writeFile(small / "цел.txt", "22");
        const fs::path image = at("damaged.iso");
        run("xorriso",
            {"-rockridge", "off", "-as", "mkisofs", "-J", "-o",
             QString::fromStdString(image.string()), QString::fromStdString(small.string())});
        if (QTest::currentTestFailed()) return;
        QFile file(QString::fromStdString(image.string()));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const qsizetype at = bytes.indexOf(QByteArray("\0q\0q\0q\0q", 8));
        QVERIFY(at > 0);
        file.seek(at);
        file.write(QByteArray("\xD8\0", 2));
        file.close();
        CollectingSink sink;
        contents::readDiscImage(image, sink);
        QCOMPARE(sink.entries.size(), size_t(2));
        QCOMPARE(sink.entries["цел.txt"].substr(0, 2), "2 ");
        const auto damaged =
            std::find_if(sink.entries.begin(), sink.entries.end(),
                         [](const auto& entry) { return entry.first != "цел.txt"; });
        QVERIFY(damaged->first.starts_with("\xEF\xBF\xBD"));
        QVERIFY(damaged->second.starts_with("1 ") &&
                damaged->second.ends_with(" marks " + std::to_string(store::kUnreadable)));
    }
    // mkudffs makes a UDF volume but cannot fill it (that takes a mount): its label, file
    // system and size, and its empty root.
    void udfImageReadsBack() {
        const fs::path image = at("dvd.udf");
        writeFile(image, {});
        fs::resize_file(image, 10 << 20);
        run("mkudffs",
            {"--media-type=dvd", "--label=Фильм на DVD", QString::fromStdString(image.string())});
        if (QTest::currentTestFailed()) return;
        CollectingSink sink;
        contents::readDiscImage(image, sink);
        QCOMPARE(QString::fromStdString(sink.facts.label), "Фильм на DVD");
        QCOMPARE(sink.facts.fileSystem, "udf");
        QCOMPARE(sink.facts.capacity, std::optional<int64_t>(10 << 20));
        QVERIFY(sink.entries.empty());

        // A filled UDF tree: genisoimage writes one beside ISO 9660; with the ISO primary
        // descriptor's type blanked the image is read as a UDF-only one.
        const fs::path tree = at("udf tree");
        fs::create_directories(tree / "Фильм/VIDEO_TS");
        writeFile(tree / "Фильм/VIDEO_TS/VTS_01_1.VOB", std::string(70000, 'v'));
        writeFile(tree / "Описание.txt", "Фильм");
        const fs::path hybrid = at("hybrid.iso");
        run("genisoimage", {"-quiet", "-udf", "-input-charset", "utf-8", "-V", "DVD",
                            "-o", QString::fromStdString(hybrid.string()),
                            QString::fromStdString(tree.string())});
        if (QTest::currentTestFailed()) return;
        {
            std::fstream image(hybrid, std::ios::in | std::ios::out | std::ios::binary);
            image.seekp(16 * 2048);
            image.put('\0');
        }
        CollectingSink filled;
        contents::readDiscImage(hybrid, filled);
        QCOMPARE(filled.facts.fileSystem, "udf");
        const std::map<std::string, std::string> expected = {
            {"Описание.txt", CollectingSink::describe(10, std::nullopt, 0)},
            {"Фильм/", CollectingSink::describe(std::nullopt, std::nullopt, 0)},
            {"Фильм/VIDEO_TS/", CollectingSink::describe(std::nullopt, std::nullopt, 0)},
            {"Фильм/VIDEO_TS/VTS_01_1.VOB", CollectingSink::describe(70000, std::nullopt, 0)}};
        QCOMPARE(filled.entries, expected);
    }

    void unreadableSourceFails_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("audio");
        QTest::newRow("image missing") << "нет такого.iso" << false;
        QTest::newRow("not an image") << "текст.iso" << false;
        QTest::newRow("image cut short") << "обрезанный.iso" << false;
        QTest::newRow("CUE missing") << "нет такого.cue" << true;
        QTest::newRow("BIN missing") << "без BIN.cue" << true;
    }
    void unreadableSourceFails() {
        QFETCH(QString, name);
        QFETCH(bool, audio);
        const fs::path source = at("") / name.toStdString();
        if (name == "текст.iso") writeFile(source, std::string(200000, 'a'));
        if (name == "обрезанный.iso") {
            makeImage(true, {"-J", "-R"}, "Обрезан", source);
            fs::resize_file(source, fs::file_size(source) / 2);
        }
        if (name == "без BIN.cue")
            writeFile(source,
                      "FILE \"пропал.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
        CollectingSink sink;
        try {
            if (audio) {
                contents::readAudioDisc(source, sink);
            } else {
                contents::readDiscImage(source, sink);
            }
            QFAIL("read without complaint");
        } catch (const store::ReadFailed& failure) {
            const QString message = QString::fromUtf8(failure.what());
            QVERIFY2(message.contains(QRegularExpression("^[А-Яа-яЁё«]")), qPrintable(message));
            QVERIFY2(message.contains(name), qPrintable(message));
        }
        QVERIFY(sink.entries.empty() && sink.tracks.empty());
    }
    void audioDiscReadsBack_data() {
        QTest::addColumn<QString>("cueName");
        QTest::addColumn<QString>("binName");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QStringList>("titles");  // disc, performer, then each track's
        const QStringList russian{"Группа крови",         "Кино", "Группа крови", "Виктор Цой",
                                  "Закрой за мной дверь", "Кино", "Ёлка в лесу",  "Ёж и ёлка"};
        QTest::newRow("UTF-8") << "диск.cue"
                               << "диск.bin"
                               << "UTF-8" << russian;
        QTest::newRow("Windows-1251") << "disc.cue"
                                      << "disc.bin"
                                      << "Windows-1251" << russian;
        QTest::newRow("ISO-8859-1")
            << "latin.cue"
            << "latin.bin"
            << "ISO-8859-1"
            << QStringList{"Déjà vu", "Café Müller", "Señor", "Ça va", "Été", "Ölmez", "Ñu", "Ü"};
        // libcdio reads the BIN named like the sheet; another name comes from FILE.
        QTest::newRow("BIN named apart") << "Альбом.cue"
                                         << "Альбом (диск 1).bin"
                                         << "UTF-8" << russian;
    }
    void audioDiscReadsBack() {
        QFETCH(QString, cueName);
        QFETCH(QString, binName);
        QFETCH(QString, encoding);
        QFETCH(QStringList, titles);
        const fs::path cue = makeCue(cueName, binName, encoding, titles);
        CollectingSink sink;
        contents::readAudioDisc(cue, sink);
        QCOMPARE(sink.facts.fileSystem, "cdda");
        QCOMPARE(QString::fromStdString(sink.facts.label), titles[0]);
        QCOMPARE(sink.facts.catalogueNumber, "4600123456789");
        QCOMPARE(QString::fromStdString(sink.facts.discId),
                 musicBrainzId(1, 3, {150 + 1000 + 2345 + 777, 150, 150 + 1000, 150 + 3345}));
        QCOMPARE(int(sink.tracks.size()), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(sink.tracks[i].number, i + 1);
            QCOMPARE(sink.tracks[i].sectors, kTrackSectors[i]);
            QCOMPARE(QString::fromStdString(sink.tracks[i].title), titles[2 * i + 2]);
            QCOMPARE(QString::fromStdString(sink.tracks[i].performer), titles[2 * i + 3]);
        }
    }

    void stopRequestStops_data() {
        QTest::addColumn<bool>("audio");
        QTest::newRow("image") << false;
        QTest::newRow("audio disc") << true;
    }
    void stopRequestStops() {
        QFETCH(bool, audio);
        CollectingSink sink;
        sink.stopAfter = audio ? 1 : 100;
        if (audio) {
            const fs::path cue = makeCue("стоп.cue", "стоп.bin", "UTF-8", QStringList(8, "x"));
            QVERIFY_THROWS_EXCEPTION(store::ReadStopped, contents::readAudioDisc(cue, sink));
        } else {
            const fs::path image = at("stop.iso");
            makeImage(true, {"-J", "-R"}, "Стоп", image);
            QVERIFY_THROWS_EXCEPTION(store::ReadStopped, contents::readDiscImage(image, sink));
        }
        QCOMPARE(sink.handed, sink.stopAfter);
    }
};
QTEST_GUILESS_MAIN(DiscImagesTest)
#include "test_discimages.moc"
