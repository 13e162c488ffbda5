// The real editor, run as its own process, losing nothing: killed outright after an
// autosave it comes back with the change; told to end with SIGTERM it autosaves and writes
// its settings first.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "Autosaver.h"
#include "ImageDocManager.h"
#include "LayeredImageHandler.h"
#include "PrivateHome.h"
#include "QuilloApp.h"
#include "TestRegistry.h"

namespace {

const QString kSamplePng = QStringLiteral(QUILLO_TEST_DATA "/sample.png");

// The editor on a copy of the sample, duplicating its layer as soon as it shows it.
class TEditorProcess {
public:
    TEditorProcess(const TPrivateHome& home, const QString& file, const QString& autosaveSeconds) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QUILLO_COMMANDS", QString::number(CM_LAYER_DUPLICATE));
        if (autosaveSeconds.isEmpty())
            env.remove("QUILLO_AUTOSAVE_SECONDS");
        else
            env.insert("QUILLO_AUTOSAVE_SECONDS", autosaveSeconds);
        Process.setProcessEnvironment(env);
        Process.setWorkingDirectory(home.Path(""));
        Process.start(QStringLiteral(QUILLO_EDITOR), {file});
    }
    ~TEditorProcess() {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    }
    // Waits until the editor's standard error shows the text.
    bool WaitForMessage(const QByteArray& text, int ms = 30000) {
        QElapsedTimer clock;
        clock.start();
        while (!errors_.contains(text) && clock.elapsed() < ms) {
            Process.waitForReadyRead(100);
            errors_ += Process.readAllStandardError();
        }
        return errors_.contains(text);
    }
    QByteArray Errors() { return errors_ += Process.readAllStandardError(); }

    QProcess Process;

private:
    QByteArray errors_;
};

QStringList Autosaves(const TPrivateHome& home) {
    return QDir(home.AutosaveFolder()).entryList({"*.qlx"}, QDir::Files);
}

} // namespace

class AutosaveTest : public QObject {
    Q_OBJECT
private slots:
    void AKilledEditorComesBackWithItsChange() {
        TPrivateHome home;
        const QString file = home.Path("photo.png");
        QVERIFY(QFile::copy(kSamplePng, file));
        {
            TEditorProcess editor(home, file, "1");
            QVERIFY2(editor.Process.waitForStarted(), QUILLO_EDITOR);
            QVERIFY(editor.WaitForMessage("commands done"));
            QTRY_VERIFY_WITH_TIMEOUT(!Autosaves(home).isEmpty(), 30000);
            editor.Process.kill(); // SIGKILL: nothing runs after this
            QVERIFY(editor.Process.waitForFinished(10000));
            QCOMPARE(editor.Process.exitStatus(), QProcess::CrashExit);
        }

        // Started again: the change is offered and comes back as it was left.
        home.Boxes.QueueAnswer(TMbResult::Yes);
        TQuilloApp app({}, TQuilloApp::THosts::Keep);
        app.Start();
        QCOMPARE(home.Boxes.Shown.size(), size_t(1));
        QVERIFY2(home.Boxes.Shown[0].Text.rfind("Recover unsaved changes of photo.png (saved at ",
                                                0) == 0,
                 home.Boxes.Shown[0].Text.c_str());
        QCOMPARE(app.Manager().Documents().size(), size_t(1));
        auto& doc = static_cast<TImageDoc&>(*app.Manager().Documents()[0]);
        QCOMPARE(QString::fromStdString(doc.GetDocPath()), QDir::cleanPath(file));
        QCOMPARE(doc.GetTitle(), std::string("photo.png"));
        QCOMPARE(doc.GetTemplate()->GetDescription(), std::string("PNG images"));
        QVERIFY(doc.IsDirty());
        QCOMPARE(doc.Image.Count(), 2);

        // Closing it without saving drops the changes for good.
        home.Boxes.QueueAnswer(TMbResult::No);
        QVERIFY(app.Frame().close());
        QVERIFY(Autosaves(home).isEmpty());
        const size_t asked = home.Boxes.Shown.size();
        TQuilloApp again({}, TQuilloApp::THosts::Keep);
        again.Start();
        QCOMPARE(home.Boxes.Shown.size(), asked); // nothing offered the next time
        QVERIFY(again.Manager().Documents().empty());
    }

    void SigtermAutosavesAndWritesTheSettingsBeforeTheEnd() {
        TPrivateHome home;
        const QString file = home.Path("photo.png");
        QVERIFY(QFile::copy(kSamplePng, file));
        TEditorProcess editor(home, file, QString());
        QVERIFY(editor.Process.waitForStarted());
        QVERIFY(editor.WaitForMessage("commands done"));
        QVERIFY(!QFile::exists(home.SettingsPath()) ||
                !home.Settings().HasKey("Placement", "PlacementBox"));
        ::kill(pid_t(editor.Process.processId()), SIGTERM);
        QVERIFY(editor.Process.waitForFinished(30000));
        QCOMPARE(editor.Process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(editor.Process.exitCode(), 128 + SIGTERM);

        const TProfileFile ini = home.Settings();
        QVERIFY(ini.HasKey("Placement", "PlacementBox"));
        QCOMPARE(ini.GetInt("Options", "Autosave Minutes", -1), 5);
        const QStringList saved = Autosaves(home);
        QCOMPARE(saved.size(), 1);
        TAutosaveStore store(home.AutosaveFolder().toStdString());
        TAutosaveRecord record;
        QVERIFY(store.ReadRecord(QFileInfo(saved[0]).completeBaseName().toStdString(), record));
        QCOMPARE(QString::fromStdString(record.Path), QDir::cleanPath(file));
        TLayeredImage image;
        QCOMPARE(image.LoadNative(QDir(home.AutosaveFolder()).filePath(saved[0]).toLocal8Bit()),
                 SUCCESS);
        QCOMPARE(image.Count(), 2);
    }
};

QUILLO_QT_TEST(AutosaveTest);
#include "AutosaveTest.moc"
