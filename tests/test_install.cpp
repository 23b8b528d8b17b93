// Korvalen installed into a temporary prefix as `cmake --install` puts it, and started
// through its launcher as the desktop's menu entry starts it, with a home of its own.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {

struct Run {
    int exitCode = -1;
    QString output;
};

Run finished(QProcess& p) {
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll())};
}

Run run(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(environment);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    return finished(p);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QString kAppId = QStringLiteral("org.korvalen.Korvalen");

}  // namespace

class TestInstall : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString prefix;

    QString installed(const QString& path) const { return prefix + '/' + path; }

    // The launcher as the menu starts it, for a user whose home is home: no screen (so
    // it makes an empty catalogue without asking), and the program closed as soon as it
    // has started.
    // With a screen, the preloaded library answers the launcher's question as a user
    // who closes it would.
    Run launch(const QString& home, bool screen = false) const {
        QProcess p;
        startLaunch(p, home, screen);
        return finished(p);
    }
    void startLaunch(QProcess& p, const QString& home, bool screen = false) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            env.remove(QString::fromLatin1(name));
        if (screen) env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LD_PRELOAD"),
                   QStringLiteral(CLOSE_AT_START) + (screen ? " " ANSWER_BOXES : ""));
        // The sanitizer runtime wants to be the first library loaded; the preloaded one is.
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                       QStringLiteral(":verify_asan_link_order=0"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(installed(QStringLiteral("bin/korvalen-launcher")));
    }
    // A home whose folder file names folder, as written.
    QString homeNaming(const QString& name, const QByteArray& folder) const {
        const QString home = dir.filePath(name);
        QDir().mkpath(home + QStringLiteral("/.config/korvalen"));
        QFile choice(home + QStringLiteral("/.config/korvalen/folder"));
        if (choice.open(QIODevice::WriteOnly)) choice.write(folder + '\n');
        return home;
    }

private slots:
    void initTestCase();
    void installedTree();
    void launcherMakesTheCatalogueOnceAndStartsThere();
    void launcherKeepsTheFolderNameAsWritten_data();
    void launcherKeepsTheFolderNameAsWritten();
    void missingFolderIsNeverMadeInSilence();
    void twoAtOnceMakeOneCatalogue();
};

void TestInstall::initTestCase() {
    QVERIFY(dir.isValid());
    prefix = dir.filePath(QStringLiteral("prefix"));
    const Run install =
        run(QStringLiteral(CMAKE_COMMAND), {"--install", BUILD_DIR, "--prefix", prefix});
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));
}

void TestInstall::installedTree() {
    for (const char* program : {"korvalen", "korvalen-base", "korvalen-launcher"}) {
        const QFileInfo file(installed(QStringLiteral("bin/") + program));
        QVERIFY2(file.isFile() && file.isExecutable(), program);
    }
    for (const char* size : {"16", "24", "32", "48", "64", "72", "128"})
        QVERIFY2(QFileInfo::exists(installed(
                     QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size, kAppId))),
                 size);
    QVERIFY(QFileInfo::exists(
        installed(QStringLiteral("share/icons/hicolor/scalable/apps/") + kAppId + ".svg")));

    const QString entry = installed("share/applications/" + kAppId + ".desktop");
    const QString metainfo = installed("share/metainfo/" + kAppId + ".metainfo.xml");
    QVERIFY(readAll(entry).contains(
        "\nExec=\"" + QFile::encodeName(installed("bin/korvalen-launcher")) + "\"\n"));
    if (QStringLiteral(DESKTOP_FILE_VALIDATE).endsWith("NOTFOUND") ||
        QStringLiteral(APPSTREAMCLI).endsWith("NOTFOUND") ||
        QStringLiteral(GROFF).endsWith("NOTFOUND"))
        QSKIP("desktop-file-validate, appstreamcli or groff is not installed (scripts/deps test)");
    // As man renders them, with every warning groff has.
    for (const char* name : {"korvalen", "korvalen-base"}) {
        const QString page = installed(QStringLiteral("share/man/man1/%1.1").arg(name));
        const Run render = run(QStringLiteral(GROFF), {"-man", "-ww", "-z", page});
        QVERIFY2(render.exitCode == 0 && render.output.isEmpty(),
                 qPrintable(page + ": " + render.output));
    }
    const Run entryCheck = run(QStringLiteral(DESKTOP_FILE_VALIDATE), {entry});
    QVERIFY2(entryCheck.exitCode == 0 && entryCheck.output.isEmpty(),
             qPrintable(entryCheck.output));
    const Run metainfoCheck = run(QStringLiteral(APPSTREAMCLI), {"validate", "--no-net", metainfo});
    QVERIFY2(metainfoCheck.exitCode == 0, qPrintable(metainfoCheck.output));
}

// With a screen the first launch asks what to make. Without one it makes an empty
// catalogue under the data folder, says where, and starts Korvalen there, which writes its
// settings beside itself on closing. The second launch opens the same catalogue without
// making anything. A folder the user named is used instead.
void TestInstall::launcherMakesTheCatalogueOnceAndStartsThere() {
    const QString home = dir.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home));
    const QString folder = home + QStringLiteral("/.local/share/korvalen");
    const QString settings = installed(QStringLiteral("bin/Korvalen.ini"));
    const QByteArray defaults("[param]\npage=1\nnal=1\nkat=0\nnos=0\nnaz=0\n");

    // A question closed unanswered makes nothing.
    const Run asked = launch(home, true);
    QVERIFY2(asked.output.contains("box: Каталога дисков ещё нет. Korvalen создаст его в папке\n" +
                                   folder),
             qPrintable(asked.output));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/base")));

    const Run first = launch(home);
    QVERIFY2(first.exitCode == 0, qPrintable(first.output));
    QVERIFY2(first.output.contains("создан пустой каталог в папке " + folder),
             qPrintable(first.output));
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/base/CDBase.DB")));
    QCOMPARE(readAll(settings), defaults);

    QVERIFY(QFile::remove(settings));
    const Run second = launch(home);
    QVERIFY2(second.exitCode == 0, qPrintable(second.output));
    QVERIFY2(!second.output.contains("создан"), qPrintable(second.output));
    QCOMPARE(readAll(settings), defaults);

    const QString chosen = dir.filePath(QStringLiteral("мои диски"));
    QVERIFY(QDir().mkpath(chosen));
    QVERIFY(QDir().mkpath(home + QStringLiteral("/.config/korvalen")));
    QFile choice(home + QStringLiteral("/.config/korvalen/folder"));
    QVERIFY(choice.open(QIODevice::WriteOnly));
    choice.write(chosen.toUtf8() + '\n');
    choice.close();
    const Run elsewhere = launch(home);
    QVERIFY2(elsewhere.exitCode == 0, qPrintable(elsewhere.output));
    QVERIFY(QFileInfo::exists(chosen + QStringLiteral("/base/CDBase.DB")));
}

// A folder's name reaches the launcher exactly as written: blanks at either end are part
// of it. Trimmed, it named another folder, where the launcher made a new, empty catalogue.
void TestInstall::launcherKeepsTheFolderNameAsWritten_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("trailing blank") << "диски ";
    QTest::newRow("leading blank") << " диски";
}

void TestInstall::launcherKeepsTheFolderNameAsWritten() {
    QFETCH(QString, name);
    const QString folder = dir.filePath(QStringLiteral("blanks/") + name);
    QVERIFY(QDir().mkpath(folder));
    const Run started = launch(homeNaming(QStringLiteral("home-blanks"), folder.toUtf8()));
    QVERIFY2(started.exitCode == 0, qPrintable(started.output));
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/base/CDBase.DB")));
    QCOMPARE(
        QDir(dir.filePath(QStringLiteral("blanks"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
        QStringList{name});
    QVERIFY(QDir(folder).removeRecursively());
}

// A named folder that is missing (a drive not mounted) is not made anew, with a screen or
// without: the user's catalogue may be there once the drive is back.
void TestInstall::missingFolderIsNeverMadeInSilence() {
    const QString folder = dir.filePath(QStringLiteral("unmounted/диски"));
    const QString home = homeNaming(QStringLiteral("home-missing"), folder.toUtf8());
    const Run quiet = launch(home);
    QCOMPARE(quiet.exitCode, 1);
    QVERIFY2(quiet.output.contains("папка каталога " + folder + " не найдена"),
             qPrintable(quiet.output));
    const Run asked = launch(home, true);
    QCOMPARE(asked.exitCode, 1);  // the question closed unanswered
    QVERIFY2(asked.output.contains("box: Папка каталога не найдена:\n" + folder),
             qPrintable(asked.output));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("unmounted"))));
}

// Two first launches, and two korvalen-base create, at once: one catalogue is made and
// both launches start in it. Both used to fail now and then (a lock or an I/O error
// between two makers of the same files), or the second launch gave up.
void TestInstall::twoAtOnceMakeOneCatalogue() {
    const QString tool = installed(QStringLiteral("bin/korvalen-base"));
    for (int round = 0; round < 20; ++round) {
        const QString folder = dir.filePath(QStringLiteral("together/%1").arg(round));
        QProcess creates[2];
        for (QProcess& create : creates) {
            create.setProcessChannelMode(QProcess::MergedChannels);
            create.start(tool, {QStringLiteral("create"), folder});
        }
        QList<int> exits;
        for (QProcess& create : creates) exits << finished(create).exitCode;
        std::sort(exits.begin(), exits.end());
        QCOMPARE(exits, QList<int>({0, 1}));
        QCOMPARE(run(tool, {QStringLiteral("check"), folder}).exitCode, 0);

        const QString home =
            homeNaming(QStringLiteral("home-together-%1").arg(round),
                       dir.filePath(QStringLiteral("launched/%1").arg(round)).toUtf8());
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("launched/%1").arg(round))));
        QProcess launches[2];
        for (QProcess& launcher : launches) startLaunch(launcher, home);
        for (QProcess& launcher : launches) {
            const Run started = finished(launcher);
            QVERIFY2(started.exitCode == 0, qPrintable(started.output));
        }
    }
}

QTEST_MAIN(TestInstall)
#include "test_install.moc"
