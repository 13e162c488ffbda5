// The desktop dialog host: shows any dialog template as a modal QDialog with real widgets
// at the template's rectangles, turns what the user does into the dialog's user actions,
// and makes the widgets follow every change of the dialog's state.
#pragma once

#include <QPointer>
#include <QWidget>

#include "Dialog.h"

class QtDialogHost : public IDialogHost {
public:
    // mainWindow: the frame dialogs belong to and are centred on; may be null.
    explicit QtDialogHost(QWidget* mainWindow = nullptr) : main_(mainWindow) {}

    int Execute(TDialog& dialog, IWindowHost* parent) override;

    QWidget* MainWindow() const { return main_; }

private:
    QPointer<QWidget> main_;
};

// Makes Qt the host of every dialog of the program (DialogHost()), owned until uninstalled,
// and lets the dialogs' Help buttons open the help window.
void InstallQtDialogHost(QWidget* mainWindow);
// Restores the headless host and frees the Qt one.
void UninstallQtDialogHost();
