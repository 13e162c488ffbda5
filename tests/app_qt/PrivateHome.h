// A private home for tests that start the editor: settings, autosaves and file
// associations go to a temporary folder, message boxes and file dialogs to scripted hosts,
// and the variables are put back afterwards.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

#include "CommonDialogs.h"
#include "MessageBox.h"
#include "ProfileFile.h"

class TPrivateHome {
public:
    TPrivateHome() {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
            saved_.append({name, qgetenv(name)});
        qputenv("HOME", dir_.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", dir_.filePath("config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", dir_.filePath("data").toLocal8Bit());
        qputenv("XDG_STATE_HOME", dir_.filePath("state").toLocal8Bit());
        SetMessageBoxHost(&Boxes);
        SetCommonDialogs(&Dialogs);
    }
    ~TPrivateHome() {
        SetCommonDialogs(nullptr);
        SetMessageBoxHost(nullptr);
        for (const auto& [name, value] : saved_) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    QString SettingsPath() const { return dir_.filePath("config/quillo/Quillo32.ini"); }
    TProfileFile Settings() const { return TProfileFile::Read(SettingsPath().toStdString()); }
    QString AutosaveFolder() const { return dir_.filePath("state/quillo/autosave"); }

    THeadlessMessageBoxes Boxes;
    THeadlessCommonDialogs Dialogs;

private:
    QTemporaryDir dir_;
    QList<QPair<const char*, QByteArray>> saved_;
};
